// The octets of the heap in use now: what the process holds of what it
// allocated, as its allocator counts it (AddressSanitizer's in the
// sanitizer builds, whose quarantine and shadow would blur the resident
// size; the C library's otherwise).  Header-only.
#ifndef HEAPINUSE_H
#define HEAPINUSE_H

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEV_HEAP_OF_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QEV_HEAP_OF_ASAN 1
#endif

#ifdef QEV_HEAP_OF_ASAN
// The sanitizer runtime's count (declared here: not every compiler ships
// the sanitizers' headers).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

inline std::size_t heapInUse()
{
#ifdef QEV_HEAP_OF_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
#endif
}

#endif
