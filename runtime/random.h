// The process's pseudo-random generator (a 32-bit linear congruential one),
// seeded once at start-up. Good for drawing file names, not for secrets.
#pragma once

#include <cstdint>

void SeedRandom(std::uint32_t seed);
std::uint32_t RandomSeed();
// A uniform draw from 0 to range - 1.
std::uint32_t RandomBelow(std::uint32_t range);
