// Key hashing of the hash containers (Dict, Set) and the rule that sizes
// their bucket arrays.
//
// A hash is a 32-bit unsigned number; a container takes it modulo its prime
// bucket count.  Integer keys hash to their own 32 bits, so a key's bucket
// does not depend on the width of long.  Class key types declare their own
// hashKey beside the class; the containers find it by argument-dependent
// lookup.
#ifndef HASHKEY_H
#define HASHKEY_H

#include <cstdint>

class TextString;

// A 16-bit Pearson hash of the text up to its first NUL, the even-numbered
// characters in the high byte and the odd-numbered ones in the low byte.
unsigned hashKey(const TextString& key);

unsigned hashKey(int key);
unsigned hashKey(unsigned int key);
unsigned hashKey(long key);
unsigned hashKey(unsigned long key);
unsigned hashKey(long long key);
unsigned hashKey(unsigned long long key);

// A pointer key hashes to its address (its low 32 bits).
template <class T>
inline unsigned hashKey(T* key)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
}

// The permutation of 0..255 behind the text hash, made once from the first
// 256 numbers of the C library's default random sequence.
const unsigned char* pearsonTable();

// The first n numbers of the C library's default random sequence (the
// additive-feedback generator seeded with 1), made by a generator of our own
// so that no other user of rand() can change the text hash.
void defaultRandomSequence(int* out, int n);

// Primality as the bucket sizing rule asks it: even numbers above 2 are not
// prime, every number up to 8 counts as prime.
bool isPrime(int n);

// The bucket count for a request of n: n rounded toward zero to an even
// number, plus 3, then the next prime in steps of 2 (50 and 51 give 53).
int primeBucketCount(int n);

#endif
