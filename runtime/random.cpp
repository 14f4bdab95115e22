#include "runtime/random.h"

namespace {

std::uint32_t Generator = 0;

}  // namespace

void SeedRandom(std::uint32_t seed) { Generator = seed; }
std::uint32_t RandomSeed() { return Generator; }

std::uint32_t RandomBelow(std::uint32_t range) {
    Generator = Generator * 0x08088405u + 1u;
    return std::uint32_t((std::uint64_t(Generator) * range) >> 32);
}
