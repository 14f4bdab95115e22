// SHA-256 on the processor's SHA extensions (SHA256RNDS2, SHA256MSG1,
// SHA256MSG2), several times faster than the system's provider: the
// self-check hashes the whole installer, payload included, on every run.
// Used only where ShaExtensionsUsable says the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

// What CPUID tells about the processor, as far as the choice needs it.
struct CpuIdentity {
    std::uint32_t maxLeaf = 0;   // leaf 0, EAX: highest basic leaf
    std::uint32_t leaf1Ecx = 0;  // leaf 1, ECX: SSSE3 (bit 9), SSE4.1 (bit 19)
    std::uint32_t leaf7Ebx = 0;  // leaf 7 subleaf 0, EBX: SHA (bit 29); only valid when maxLeaf >= 7
};

// The processor this code runs on (platform/windows, or the simulated PC's).
CpuIdentity ReadCpuIdentity();

// True when every instruction the hasher uses exists: the SHA extensions
// and the SSSE3 and SSE4.1 shuffles and blends around them.
bool ShaExtensionsUsable(const CpuIdentity& cpu);

class Sha256Extensions {
public:
    Sha256Extensions();
    void Update(const void* data, std::size_t size);
    void Finish(std::uint8_t digest[32]);

private:
    std::uint32_t state_[8];
    unsigned char block_[64];
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
};
