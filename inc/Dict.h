// Dict<K,V>: the key-to-value container, a chained hash table with a prime
// number of buckets, unique keys, keys and values held by value, and
// positional access (0 .. count() - 1) through an index that is built when
// first asked for and, after sort(), kept in ascending key order.
//
// Keys hash through an unqualified hashKey(const K&) (common/hashKey.h for
// texts and integers; class key types declare theirs beside the class),
// compare with == and order with <.  A dictionary grows to the next prime
// bucket count above twice its size when it holds four entries per bucket;
// it never shrinks.  Pointer values are stored as they are and never deleted.
//
// An unsorted dictionary lists its entries bucket by bucket from the highest
// bucket down, each chain from its head (the newest entry first).
#ifndef DICT_H
#define DICT_H

#include "LogStream.h"
#include "hashKey.h"

#include <cstdint>
#include <ostream>

// The chain and index steps that Dict and Set share.  Node is a struct with
// a `key` and a `next` pointer.
namespace HashChains {

template <class Node>
struct Cursor {
    Node* node = nullptr;     // the matching node, or null
    Node* previous = nullptr; // the node before it in its chain, or null
    int bucket = 0;           // the bucket the key hashes to
};

template <class K>
inline int bucketOf(const K& key, int bucketCount)
{
    return static_cast<int>(static_cast<uint32_t>(hashKey(key)) %
                            static_cast<uint32_t>(bucketCount));
}

// The bucket array, entry count and positional index of one Dict or Set,
// with the counters of its lookups.  The counters and the index change on
// lookups and positional access of a constant container.
template <class Node>
struct Table {
    Node** buckets = nullptr;
    int bucketCount = 0;
    int count = 0;
    mutable Node** index = nullptr; // count node pointers, or null
    mutable int lookups = 0;        // find calls
    mutable int probes = 0;         // nodes compared by find calls

    Table() { rehash(50); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    ~Table() { destroy(); }

    // Back to the state of a new table (53 empty buckets).
    void reset()
    {
        destroy();
        buckets = nullptr;
        bucketCount = 0;
        count = 0;
        index = nullptr;
        lookups = 0;
        probes = 0;
        rehash(50);
    }

    // Walks the chain of the key's bucket from its head; the cursor ends on
    // the match and its predecessor, or after the last node.
    template <class K>
    bool find(const K& key, Cursor<Node>& c) const
    {
        c.bucket = bucketOf(key, bucketCount);
        c.node = buckets[c.bucket];
        c.previous = nullptr;
        ++lookups;
        while (c.node) {
            ++probes;
            if (c.node->key == key)
                return true;
            c.previous = c.node;
            c.node = c.node->next;
        }
        return false;
    }

    // Puts a new node (its next already the chain head) at the head of the
    // cursor's bucket.
    void addAtHead(Node* node, const Cursor<Node>& c) { buckets[c.bucket] = node; }

    // Unlinks and frees the node a successful find left the cursor on.
    void unlink(const Cursor<Node>& c)
    {
        if (c.previous)
            c.previous->next = c.node->next;
        else
            buckets[c.bucket] = c.node->next;
        delete c.node;
    }

    // After an insertion (+1) or removal (-1): the index goes, and the
    // buckets double when the entries reach perBucket per bucket.
    void grow(int d, int perBucket)
    {
        count += d;
        freeIndex();
        if (count >= perBucket * bucketCount)
            rehash(2 * bucketCount);
    }

    // Calls f on every node: buckets from the last to the first, each chain
    // from its head.  f may free or relink the node it is given.
    template <class F>
    void forEachNode(F f) const
    {
        for (int b = bucketCount - 1; b >= 0; --b) {
            for (Node* node = buckets[b]; node;) {
                Node* next = node->next;
                f(node);
                node = next;
            }
        }
    }

    // A new bucket array sized for a request of n; every node is moved
    // (never copied) to the head of its new bucket.
    void rehash(int n)
    {
        int m = primeBucketCount(n);
        Node** fresh = new Node*[m]();
        forEachNode([fresh, m](Node* node) {
            int b = bucketOf(node->key, m);
            node->next = fresh[b];
            fresh[b] = node;
        });
        delete[] buckets;
        buckets = fresh;
        bucketCount = m;
    }

    // The index in bucket order.
    void buildIndex() const
    {
        index = new Node*[count > 0 ? count : 0];
        int next = 0;
        forEachNode([this, &next](Node* node) {
            if (next < count)
                index[next++] = node;
        });
    }

    void freeIndex() const
    {
        delete[] index;
        index = nullptr;
    }

    void destroy()
    {
        forEachNode([](Node* node) { delete node; });
        delete[] index;
        delete[] buckets;
    }
};

// Quicksort of index[lo..hi] by ascending key (Hoare partitioning around the
// key at lo; the left part by recursion, the right part by the loop).
template <class Node>
void sortIndex(Node** index, int lo, int hi)
{
    while (lo < hi) {
        const auto& pivot = index[lo]->key;
        int i = lo;
        int j = hi;
        do {
            while (i < hi && index[i]->key < pivot)
                ++i;
            while (j > lo && pivot < index[j]->key)
                --j;
            if (i > j)
                break;
            Node* swap = index[i];
            index[i] = index[j];
            index[j] = swap;
            ++i;
            --j;
        } while (i <= j);
        sortIndex(index, lo, j);
        lo = i;
    }
}

} // namespace HashChains

template <class K, class V>
class Dict {
public:
    struct Node {
        K key;
        V value;
        Node* next;
    };
    typedef HashChains::Cursor<Node> Cursor;

    Dict() : _sorted(false) {}
    Dict(const Dict& other) : _sorted(false) { copyEntries(other); }
    Dict& operator=(const Dict& other)
    {
        if (this != &other) {
            _table.reset();
            copyEntries(other);
        }
        return *this;
    }

    // Looks a key up, fills the cursor when one is given and copies the
    // value out when asked.
    bool find(const K& key, Cursor* cursor = nullptr, V* value = nullptr) const
    {
        Cursor local;
        Cursor& c = cursor ? *cursor : local;
        if (!_table.find(key, c))
            return false;
        if (value)
            *value = c.node->value;
        return true;
    }

    // Adds the key at the head of its chain, or replaces the value of a
    // present key (leaving count and positional order alone).
    void insert(const K& key, const V& value)
    {
        Cursor c;
        if (find(key, &c)) {
            c.node->value = value;
            return;
        }
        _table.addAtHead(new Node{key, value, _table.buckets[c.bucket]}, c);
        _table.grow(+1, 4);
    }

    // Removes the key when present; an absent key changes nothing.
    void remove(const K& key)
    {
        Cursor c;
        if (!find(key, &c))
            return;
        _table.unlink(c);
        _table.grow(-1, 4);
    }

    // From now on positional order is ascending key order.
    void sort() const
    {
        _sorted = true;
        _table.freeIndex();
    }

    bool validIndex(int i) const
    {
        if (!_table.index) {
            _table.buildIndex();
            if (_sorted)
                HashChains::sortIndex(_table.index, 0, _table.count - 1);
        }
        if (i >= 0 && i < _table.count)
            return true;
        QEV_LOG_AT(LogStream::BUG, "Dict", 251)
            << "invalid index in Dict<K,V>::validIndex()" << std::endl;
        return false;
    }

    // Key and value at position i; a bad position is logged and answered
    // with a default that is never modified.
    const K& key(int i) const
    {
        static const K defaultKey{};
        return validIndex(i) ? _table.index[i]->key : defaultKey;
    }
    const V& value(int i) const
    {
        static const V defaultValue{};
        return validIndex(i) ? _table.index[i]->value : defaultValue;
    }

    int count() const { return _table.count; }
    int bucketCount() const { return _table.bucketCount; }
    bool isSorted() const { return _sorted; }
    bool hasIndex() const { return _table.index != nullptr; }
    int lookups() const { return _table.lookups; }
    int probes() const { return _table.probes; }

private:
    // Entries go in in the source's positional order.
    void copyEntries(const Dict& other)
    {
        for (int i = 0; i < other.count(); ++i)
            insert(other.key(i), other.value(i));
        _sorted = other._sorted;
    }

    HashChains::Table<Node> _table;
    mutable bool _sorted;
};

#endif
