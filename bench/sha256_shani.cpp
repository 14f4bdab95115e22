// For the timing experiment only: the product's Sha256 class (the header
// platform/sha256.h, unchanged) computed on the processor's SHA extensions
// instead of through CNG. Linked in place of platform/sha256.cpp into
// installer_shani.exe, so the whole quiet run can be timed with a faster
// hash. The running state lives in a heap block held in the hash_ member.
#include <cstring>
#include <new>

#include "platform/sha256.h"
#include "shani.h"

namespace {

struct State {
    std::uint32_t h[8];
    unsigned char block[64];
    std::size_t used = 0;
    std::uint64_t total = 0;
};

State* Of(BCRYPT_HASH_HANDLE handle) { return static_cast<State*>(handle); }

}  // namespace

Sha256::~Sha256() { Release(); }

bool Sha256::Begin() {
    Release();
    if (!sha256_have_shani()) return false;
    State* s = new (std::nothrow) State;
    if (!s) return false;
    static const std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(s->h, initial, sizeof initial);
    hash_ = s;
    return true;
}

bool Sha256::Update(const void* data, std::size_t size) {
    State* s = Of(hash_);
    if (!s) return false;
    auto* bytes = static_cast<const unsigned char*>(data);
    s->total += size;
    if (s->used) {
        const std::size_t take = size < 64 - s->used ? size : 64 - s->used;
        std::memcpy(s->block + s->used, bytes, take);
        s->used += take;
        bytes += take;
        size -= take;
        if (s->used < 64) return true;
        sha256_blocks_shani(s->h, s->block, 1);
        s->used = 0;
    }
    sha256_blocks_shani(s->h, bytes, size / 64);
    std::memcpy(s->block, bytes + size / 64 * 64, size % 64);
    s->used = size % 64;
    return true;
}

bool Sha256::Finish(std::uint8_t digest[32]) {
    State* s = Of(hash_);
    if (!s) return false;
    const std::uint64_t bits = s->total * 8;
    unsigned char pad[72] = {0x80};
    const std::size_t padLength = (s->used < 56 ? 56 : 120) - s->used;
    for (int i = 0; i < 8; ++i) pad[padLength + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Update(pad, padLength + 8);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<std::uint8_t>(s->h[i] >> 24);
        digest[4 * i + 1] = static_cast<std::uint8_t>(s->h[i] >> 16);
        digest[4 * i + 2] = static_cast<std::uint8_t>(s->h[i] >> 8);
        digest[4 * i + 3] = static_cast<std::uint8_t>(s->h[i]);
    }
    return true;
}

void Sha256::Release() {
    delete Of(hash_);
    hash_ = nullptr;
}
