// Set<K>: a hash set of distinct keys with lookup by key and positional
// access (operator[], 0 .. count() - 1) through an index built when first
// asked for.  It shares Dict's buckets, key hashes and index steps; unlike a
// Dict it grows when it holds one key per bucket.
//
// After sort(), position 0 is the smallest key, found in the pass that builds
// the index; asking for any other position sorts the whole index once, and
// the order holds until the next change.
#ifndef SET_H
#define SET_H

#include "Dict.h"

template <class K>
class Set {
public:
    struct Node {
        K key;
        Node* next;
    };
    typedef HashChains::Cursor<Node> Cursor;

    Set() : _sorted(false), _indexSorted(false) {}
    Set(const Set& other) : _sorted(false), _indexSorted(false) { copyKeys(other); }
    Set& operator=(const Set& other)
    {
        if (this != &other) {
            _table.reset();
            _indexSorted = false;
            copyKeys(other);
        }
        return *this;
    }

    bool find(const K& key, Cursor* cursor = nullptr) const
    {
        Cursor local;
        return _table.find(key, cursor ? *cursor : local);
    }

    // A present key stays as stored; a new one goes to the head of its chain.
    void insert(const K& key)
    {
        Cursor c;
        if (find(key, &c))
            return;
        _table.addAtHead(new Node{key, _table.buckets[c.bucket]}, c);
        changed(+1);
    }

    // True when the key was present.
    bool remove(const K& key)
    {
        Cursor c;
        if (!find(key, &c))
            return false;
        _table.unlink(c);
        changed(-1);
        return true;
    }

    void sort()
    {
        _sorted = true;
        _table.freeIndex();
        _indexSorted = false;
    }

    // The key at position i; a bad position is logged and answered with a
    // default key that is never modified.
    const K& operator[](int i) const
    {
        if (i < 0 || i >= _table.count) {
            QEV_LOG(LogStream::BUG, "Set") << "invalid index in Dict<K,V>::validIndex()"
                                           << std::endl;
            static const K defaultKey{};
            return defaultKey;
        }
        if (!_table.index)
            buildIndex();
        if (_sorted && !_indexSorted && i != 0) {
            HashChains::sortIndex(_table.index, 0, _table.count - 1);
            _indexSorted = true;
        }
        return _table.index[i]->key;
    }

    int count() const { return _table.count; }
    int bucketCount() const { return _table.bucketCount; }
    bool isSorted() const { return _sorted; }
    bool isIndexSorted() const { return _indexSorted; }
    bool hasIndex() const { return _table.index != nullptr; }
    int lookups() const { return _table.lookups; }
    int probes() const { return _table.probes; }

private:
    void copyKeys(const Set& other)
    {
        for (int i = 0; i < other.count(); ++i)
            insert(other[i]);
        _sorted = other._sorted;
    }

    // A set grows when it holds one key per bucket.
    void changed(int d)
    {
        _table.grow(d, 1);
        _indexSorted = false;
    }

    // Bucket order; when sorted, the smallest key (the first of equals met)
    // is swapped into position 0.
    void buildIndex() const
    {
        _table.buildIndex();
        Node** index = _table.index;
        if (_sorted && _table.count > 0) {
            int smallest = 0;
            for (int p = 1; p < _table.count; ++p) {
                if (index[p]->key < index[smallest]->key)
                    smallest = p;
            }
            Node* swap = index[0];
            index[0] = index[smallest];
            index[smallest] = swap;
        }
    }

    HashChains::Table<Node> _table;
    bool _sorted;
    mutable bool _indexSorted;
};

#endif
