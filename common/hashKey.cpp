#include "hashKey.h"

#include "TextString.h"

#include <vector>

void defaultRandomSequence(int* out, int n)
{
    // The state words r[0..33] come from a multiplicative congruential start
    // (r[0] = 1, r[i] = 16807 r[i-1] mod 2^31 - 1), then
    // r[i] = r[i-31] + r[i-3] (mod 2^32); the first 310 words after the
    // start are discarded and each number is the next word shifted right
    // by one.
    const int discarded = 344;
    std::vector<uint32_t> r(static_cast<size_t>(discarded + (n > 0 ? n : 0)));
    r[0] = 1;
    for (int i = 1; i < 31; ++i) {
        int64_t word = (16807LL * static_cast<int32_t>(r[i - 1])) % 2147483647LL;
        if (word < 0)
            word += 2147483647LL;
        r[i] = static_cast<uint32_t>(word);
    }
    for (int i = 31; i < 34; ++i)
        r[i] = r[i - 31];
    for (size_t i = 34; i < r.size(); ++i)
        r[i] = r[i - 31] + r[i - 3];
    for (int k = 0; k < n; ++k)
        out[k] = static_cast<int>(r[static_cast<size_t>(k + discarded)] >> 1);
}

namespace {

struct PearsonTable {
    unsigned char entry[256];

    PearsonTable()
    {
        int random[256];
        defaultRandomSequence(random, 256);
        for (int i = 0; i < 256; ++i)
            entry[i] = static_cast<unsigned char>(i);
        for (int i = 0; i < 256; ++i) {
            int j = random[i] & 255;
            unsigned char swap = entry[i];
            entry[i] = entry[j];
            entry[j] = swap;
        }
    }
};

} // namespace

const unsigned char* pearsonTable()
{
    static const PearsonTable table;
    return table.entry;
}

unsigned hashKey(const TextString& key)
{
    const unsigned char* table = pearsonTable();
    unsigned char hi = 0;
    unsigned char lo = 0;
    const unsigned char* c = reinterpret_cast<const unsigned char*>(key.c_str());
    for (int i = 0; c[i] != 0; ++i) {
        if (i % 2 == 0)
            hi = table[c[i] ^ hi];
        else
            lo = table[c[i] ^ lo];
    }
    return hi * 256u + lo;
}

unsigned hashKey(int key)
{
    return static_cast<uint32_t>(key);
}

unsigned hashKey(unsigned int key)
{
    return static_cast<uint32_t>(key);
}

unsigned hashKey(long key)
{
    return static_cast<uint32_t>(key);
}

unsigned hashKey(unsigned long key)
{
    return static_cast<uint32_t>(key);
}

unsigned hashKey(long long key)
{
    return static_cast<uint32_t>(key);
}

unsigned hashKey(unsigned long long key)
{
    return static_cast<uint32_t>(key);
}

bool isPrime(int n)
{
    if (n > 2 && n % 2 == 0)
        return false;
    if (n <= 8)
        return true;
    for (long long d = 3; d * d <= n; d += 2) {
        if (n % d == 0)
            return false;
    }
    return true;
}

int primeBucketCount(int n)
{
    int m = (n / 2) * 2 + 3;
    while (!isPrime(m))
        m += 2;
    return m;
}
