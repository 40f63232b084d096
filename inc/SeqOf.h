// SeqOf<T>: the growable, indexable sequence, a handle to a copy-on-write
// SeqValue<T>.
//
// Copying a sequence shares its storage; a write through a shared handle
// first makes a private copy (without spare room).  Writable element access
// marks the storage not shareable for the rest of its life, so every later
// copy of that sequence copies the elements.  Misuse (a bad index, reversed
// bounds, a negative length) is logged at BUG and the operation goes on with
// a substitute (element 0, or a default element when there is none).
#ifndef SEQOF_H
#define SEQOF_H

#include "LogStream.h"
#include "SeqValue.h"

#include <ostream>

template <class T>
class SeqOf {
public:
    SeqOf() : _value(rcTake(new SeqValue<T>())) {}
    // One element (capacity 10).
    explicit SeqOf(const T& x) : _value(rcTake(new SeqValue<T>()))
    {
        _value->setLength(1);
        _value->elements[0] = x;
    }
    SeqOf(const T* array, int n) : _value(rcTake(new SeqValue<T>(array, n))) {}
    SeqOf(const SeqOf& s) : _value(rcTake(s._value)) {}
    SeqOf& operator=(const SeqOf& s)
    {
        rcReplace(_value, s._value);
        return *this;
    }
    virtual ~SeqOf() { _value->removeReference(); }

    int length() const { return _value->length; }
    int capacity() const { return _value->capacity; }
    // The element array in place (length() contiguous elements; null for a
    // sequence that never had any).  The writable form is writable element
    // access: a shared array is copied first and marked not shareable.
    const T* elements() const { return _value->elements; }
    T* elements()
    {
        copyOnWrite();
        _value->markUnshareable();
        return _value->elements;
    }

    // What tests look at: the storage held, its holder count and whether
    // copies may share it.
    const void* rep() const { return _value; }
    int refCount() const { return _value->references(); }
    bool isShareable() const { return _value->isShareable(); }

    const T& operator[](int i) const
    {
        if (i < 0 || i >= _value->length) {
            checkIndex(i);
            return substitute();
        }
        return _value->elements[i];
    }

    T& operator[](int i)
    {
        copyOnWrite();
        _value->markUnshareable();
        if (i < 0 || i >= _value->length) {
            checkIndex(i);
            if (_value->length == 0) {
                // No element 0 to hand out: a default that the caller may
                // overwrite harmlessly.
                static T spare;
                spare = T();
                return spare;
            }
            return _value->elements[0];
        }
        return _value->elements[i];
    }

    // The first index j >= start holding x, or -1.
    int find(const T& x, int start = 0) const
    {
        if (start < 0 || start >= _value->length)
            return -1;
        for (int j = start; j < _value->length; ++j) {
            if (_value->elements[j] == x)
                return j;
        }
        return -1;
    }

    bool operator==(const SeqOf& s) const
    {
        if (this == &s)
            return true;
        if (_value->length != s._value->length)
            return false;
        for (int i = _value->length - 1; i >= 0; --i) {
            if (!(_value->elements[i] == s._value->elements[i]))
                return false;
        }
        return true;
    }

    // Copies of the elements from..to (both included).
    SeqOf extract(int from, int to) const
    {
        if (from > to) {
            QEV_LOG_AT(LogStream::BUG, "SeqOf", 662) << "bad indices [" << from << "," << to
                                                    << "] in SeqOf.extract, size="
                                                    << _value->length << std::endl;
            to = from;
        }
        from = validOrZero(from);
        to = validOrZero(to);
        // Bounds still reversed after the substitutions, or nothing to copy
        // from: an empty result.
        if (to < from || _value->length == 0)
            return SeqOf();
        return SeqOf(_value->elements + from, to - from + 1);
    }

    void setLength(int n)
    {
        if (n == _value->length)
            return;
        copyOnWrite();
        _value->setLength(n);
    }

    void append(const T& x)
    {
        copyOnWrite();
        int n = _value->length + 1;
        if (n > _value->capacity) {
            // x may be an element of this sequence: keep it across the
            // reallocation.
            T item;
            item = x;
            setLength(n);
            _value->elements[n - 1] = item;
            return;
        }
        _value->length = n;
        _value->elements[n - 1] = x;
    }

    // Replaces the elements strictly between positions a and b by all of
    // src's (-1 <= a < b <= length(); a = -1 inserts at the front, b =
    // length() reaches the end).
    void replace(int a, int b, const SeqOf& src)
    {
        copyOnWrite();
        if (&src == this) {
            SeqOf copy(src);
            replace(a, b, copy);
            return;
        }
        int n = src._value->length;
        // Bounds outside -1 <= a < b <= length() are refused; only removing
        // nothing from an empty sequence goes on (it stays empty).
        bool nothingFromEmpty = n == 0 && _value->length == 0;
        if (a < -1 || a >= b || (b > _value->length && !nothingFromEmpty)) {
            logBadIndices(a, b);
            return;
        }
        int d = n - (b - a - 1);
        if (d < 0) {
            for (int k = b + d; k - d < _value->length; ++k)
                _value->elements[k] = _value->elements[k - d];
            setLength(_value->length + d);
        } else if (d > 0) {
            setLength(_value->length + d);
            for (int i = _value->length - 1; i - d >= b; --i)
                _value->elements[i] = _value->elements[i - d];
        }
        for (int k = 0; k < n; ++k)
            _value->elements[a + 1 + k] = src._value->elements[k];
    }

    // Removes the elements from..to (both included).
    void remove(int from, int to)
    {
        SeqOf none;
        if (from > to) {
            logBadIndices(from, to);
            to = from;
        }
        to = validOrZero(to);
        from = validOrZero(from);
        // Bounds reversed by the substitutions: nothing is removed.
        if (from > to)
            return;
        replace(from - 1, to + 1, none);
    }

    void checkIndex(int i) const
    {
        QEV_LOG_AT(LogStream::BUG, "SeqOf", 858) << "index [" << i
                                                << "] out of range in SeqOf.checkIndex,"
                                                << " size=" << _value->length << std::endl;
    }

private:
    void copyOnWrite()
    {
        if (_value->isShared()) {
            SeqValue<T>* own = rcTake(new SeqValue<T>(_value->elements, _value->length));
            _value->removeReference();
            _value = own;
        }
    }

    // An index outside the elements is logged and replaced by 0.
    int validOrZero(int i) const
    {
        if (i < 0 || i >= _value->length) {
            checkIndex(i);
            return 0;
        }
        return i;
    }

    void logBadIndices(int a, int b) const
    {
        QEV_LOG_AT(LogStream::BUG, "SeqOf", 424) << "bad indices [" << a << "," << b
                                                << "] in SeqOf.replace," << " size="
                                                << _value->length << std::endl;
    }

    // Element 0 in place of a bad index, or a default when there is none.
    const T& substitute() const
    {
        static const T none{};
        return _value->length > 0 ? _value->elements[0] : none;
    }

    SeqValue<T>* _value;
};

// a's elements (no spare room) followed by b's.
template <class T>
SeqOf<T> operator+(const SeqOf<T>& a, const SeqOf<T>& b)
{
    SeqOf<T> sum(a.elements(), a.length());
    if (b.length() > 0)
        sum.replace(sum.length() - 1, sum.length(), b);
    return sum;
}

// "[a, b, c ]"; an empty sequence gives "[ ]".
inline std::ostream& operator<<(std::ostream& out, const SeqOf<unsigned char>& s)
{
    out << "[";
    for (int i = 0; i < s.length(); ++i) {
        if (i > 0)
            out << ", ";
        out << static_cast<char>(s.elements()[i]);
    }
    return out << " ]";
}

#endif
