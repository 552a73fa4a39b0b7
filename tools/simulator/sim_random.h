// Seeded pseudo-random choices for the misbehaviour options (same seed, same run).
#pragma once
#include <cstdint>

// Restarts the sequence from this seed.
void random_seed(uint64_t seed);
// True with probability p (never for p <= 0, always for p >= 1).
bool random_chance(double p);
// Uniform in 0..n-1 (n > 0).
uint32_t random_below(uint32_t n);
