// SeqValue<T>: the shared, reference-counted storage behind a SeqOf<T>: the
// element array with its length and capacity.
//
// Every slot of the array holds a constructed T; the slots past `length`
// are spare and keep whatever they last held until a reallocation resets
// them to T().  Copies (the copy constructor, the array constructor) have
// exactly `length` slots and assign each element into a default-constructed
// slot.  Growth is to the largest of the requested length, capacity × 1.1
// and capacity + 10; the array shrinks only when it would keep both more
// than 10 and more than a tenth of its slots unused.
#ifndef SEQVALUE_H
#define SEQVALUE_H

#include "LogStream.h"
#include "RCObject.h"

#include <ostream>

template <class T>
class SeqValue : public RCObject {
public:
    int length;
    int capacity;
    T* elements; // null only in a value from the default constructor

    SeqValue() { init(); }
    SeqValue(const T* src, int n) { copyElements(src, n); }
    SeqValue(const SeqValue& other) : RCObject() { copyElements(other.elements, other.length); }
    SeqValue& operator=(const SeqValue&) = delete;
    ~SeqValue() override { delete[] elements; }

    void init()
    {
        length = 0;
        capacity = 0;
        elements = nullptr;
    }

    // n elements assigned from src into a new array of exactly n slots (an
    // array is made even for n = 0).
    void copyElements(const T* src, int n)
    {
        if (n < 0)
            n = 0;
        length = n;
        capacity = n;
        elements = new T[n];
        for (int i = 0; i < n; ++i)
            elements[i] = src[i];
    }

    // Sets the length, reallocating by the growth and shrink rules.  A
    // negative length is logged and taken as 0.
    void setLength(int n)
    {
        if (n < 0) {
            QEV_LOG_AT(LogStream::BUG, "SeqOf", 90)
                << "negative argument to SeqOf.setLength" << std::endl;
            n = 0;
        }
        // The products with 0.9 and 1.1 (as single-precision numbers) are
        // formed exactly.
        long double scaled = static_cast<long double>(capacity);
        int newCapacity;
        if (capacity - 10 > n && scaled * static_cast<long double>(0.9f) > n) {
            newCapacity = n;
        } else if (capacity >= n) {
            length = n;
            return;
        } else {
            int tenthMore = static_cast<int>(scaled * static_cast<long double>(1.1f));
            newCapacity = n;
            if (tenthMore > newCapacity)
                newCapacity = tenthMore;
            if (capacity + 10 > newCapacity)
                newCapacity = capacity + 10;
        }
        reallocate(newCapacity);
        length = n;
    }

private:
    void reallocate(int newCapacity)
    {
        // Value-initialised: every slot past the kept ones is T().
        T* fresh = new T[newCapacity]();
        int kept = length < newCapacity ? length : newCapacity;
        for (int i = 0; i < kept; ++i)
            fresh[i] = elements[i];
        delete[] elements;
        elements = fresh;
        capacity = newCapacity;
    }
};

#endif
