// QueueImpl<T>: a first-in, first-out queue of small copyable items
// (pointers, or integers that fit one).  The items are stored in a Dict
// keyed by their arrival number, so an empty queue costs nothing beyond the
// dictionary.  The queue owns none of the items: its owner drains or deletes
// them.  Positions are 32-bit and wrap at 2^32 together with their keys.
//
// No lock of its own: an owner that shares a queue between threads holds
// its own lock around every operation.
#ifndef QUEUEIMPL_H
#define QUEUEIMPL_H

#include "Dict.h"
#include "LogStream.h"

#include <cstdint>
#include <type_traits>

template <class T>
class QueueImpl {
    static_assert(std::is_pointer<T>::value || std::is_integral<T>::value,
                  "QueueImpl holds pointers or integers");

public:
    // Positions start at first (0 for every queue of the system; tests
    // start near 2^32 to see the wrap).
    explicit QueueImpl(uint32_t first = 0) : _head(first), _tail(first), _frontSlot() {}

    void enqueue(const T& item)
    {
        if (static_cast<uint32_t>(_tail + 1) == _head) {
            QEV_LOG_AT(LogStream::BUG, "QueueImpl", 94)
                << "Queue would overflow.  Item not added." << std::endl;
            return;
        }
        _rep.insert(keyOf(_tail), toStored(item));
        ++_tail;
    }

    // Copies the head item out without removing it; false (output untouched)
    // on an empty queue.
    bool peek(T& item) const
    {
        if (_head == _tail) {
            QEV_LOG_AT(LogStream::BUG, "QueueImpl", 130)
                << "Attempt to remove from or peek at an empty queue." << std::endl;
            return false;
        }
        void* stored = nullptr;
        if (!_rep.find(keyOf(_head), nullptr, &stored)) {
            QEV_LOG_AT(LogStream::BUG, "QueueImpl", 139)
                << "Failure to extract item from representation." << "_head = " << _head
                << std::endl;
            return false;
        }
        item = fromStored(stored);
        return true;
    }

    // Removes and returns the head item; a null item on an empty queue.
    T dequeue()
    {
        T item = T();
        if (!peek(item))
            return T();
        _rep.remove(keyOf(_head));
        ++_head;
        return item;
    }

    // The head item in this queue's own slot (null on an empty queue); the
    // next call overwrites it.
    T& front()
    {
        if (!peek(_frontSlot))
            _frontSlot = T();
        return _frontSlot;
    }

    bool isEmpty() const { return _head == _tail; }
    int count() const { return _rep.count(); }
    uint32_t head() const { return _head; }
    uint32_t tail() const { return _tail; }

private:
    static long keyOf(uint32_t position) { return static_cast<long>(position); }

    static void* toStored(T item)
    {
        if constexpr (std::is_pointer<T>::value)
            return const_cast<void*>(reinterpret_cast<const volatile void*>(item));
        else
            return reinterpret_cast<void*>(static_cast<uintptr_t>(item));
    }

    static T fromStored(void* stored)
    {
        if constexpr (std::is_pointer<T>::value)
            return reinterpret_cast<T>(stored);
        else
            return static_cast<T>(reinterpret_cast<uintptr_t>(stored));
    }

    uint32_t _head;
    uint32_t _tail;
    Dict<long, void*> _rep;
    T _frontSlot;
};

#endif
