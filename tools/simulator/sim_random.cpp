// splitmix64: tiny, portable and fully determined by the seed.
#include "sim_random.h"

static uint64_t random_state = 1;

void random_seed(uint64_t seed)
{
    random_state = seed;
}

// Next 64 random bits.
static uint64_t random_next()
{
    uint64_t z = (random_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

bool random_chance(double p)
{
    if (p <= 0)
        return false;
    // Draw even for p >= 1 so that the sequence does not depend on p.
    double u = double(random_next() >> 11) / double(1ull << 53);
    return u < p;
}

uint32_t random_below(uint32_t n)
{
    return uint32_t(random_next() % n);
}
