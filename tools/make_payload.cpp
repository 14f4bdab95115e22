// Writes the sample data file: a fixed number of deterministic bytes with a
// version value in the 16-bit little-endian field at offset 5, as a real
// lxn.cok carries it.
//
//   lexomir_payload OUT [SIZE [VERSION]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s OUT [SIZE [VERSION]]\n", argv[0]);
        return 2;
    }
    const unsigned long long size = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 28002252ULL;
    const unsigned version = argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 10)) : 1001u;
    if (size < 7 || version > 0xFFFF) {
        std::fprintf(stderr, "size must be at least 7 and version at most 65535\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    // xorshift64*: cheap, and the same bytes on every machine.
    std::uint64_t state = 0x4C65786F6D697221ULL;
    std::vector<unsigned char> block(1 << 20);
    unsigned long long written = 0;
    bool ok = true;
    while (ok && written < size) {
        std::size_t n = block.size();
        if (size - written < n) n = std::size_t(size - written);
        for (std::size_t i = 0; i < n; ++i) {
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            block[i] = static_cast<unsigned char>((state * 0x2545F4914F6CDD1DULL) >> 56);
        }
        if (written == 0) {
            const unsigned char head[5] = {'L', 'X', 'N', 'C', 1};
            for (int i = 0; i < 5; ++i) block[i] = head[i];
            block[5] = static_cast<unsigned char>(version & 0xFF);
            block[6] = static_cast<unsigned char>(version >> 8);
        }
        ok = std::fwrite(block.data(), 1, n, out) == n;
        written += n;
    }
    if (std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
