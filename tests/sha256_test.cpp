// Covers: platform/sha256.cpp, platform/sha256_extensions.cpp, install/self_check.cpp.
// The self-check's hash: the processor's SHA extensions against OpenSSL,
// the choice between them and CNG, and the self-check on either engine.
#include <cpuid.h>
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>
#include <string>
#include <vector>

#include "install/self_check.h"
#include "platform/sha256.h"
#include "platform/sha256_extensions.h"
#include "tests/demo_pc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Hex(const std::uint8_t* digest) {
    static const char Digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        text += Digits[digest[i] >> 4];
        text += Digits[digest[i] & 15];
    }
    return text;
}

std::string OpenSsl(const Bytes& data) {
    std::uint8_t digest[32];
    SHA256(data.data(), data.size(), digest);
    return Hex(digest);
}

// Fed in pieces of the given sizes, cycling, so that every way a piece can
// straddle a block boundary is taken.
std::string Extensions(const Bytes& data, const std::vector<std::size_t>& pieces = {}) {
    Sha256Extensions hash;
    std::size_t at = 0;
    for (std::size_t i = 0; at < data.size(); ++i) {
        const std::size_t n = pieces.empty() ? data.size() : std::min(pieces[i % pieces.size()], data.size() - at);
        hash.Update(data.data() + at, n);
        at += n;
    }
    std::uint8_t digest[32];
    hash.Finish(digest);
    return Hex(digest);
}

Bytes Random(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// The host's own processor, asked directly: these tests run the real
// instructions, whatever the simulated PC says.
bool HostHasShaExtensions() {
    unsigned a, b, c, d;
    CpuIdentity cpu;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    cpu.maxLeaf = a;
    __get_cpuid(1, &a, &b, &c, &d);
    cpu.leaf1Ecx = c;
    if (cpu.maxLeaf >= 7) {
        __get_cpuid_count(7, 0, &a, &b, &c, &d);
        cpu.leaf7Ebx = b;
    }
    return ShaExtensionsUsable(cpu);
}

class ShaExtensions : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HostHasShaExtensions()) GTEST_SKIP() << "this host's processor has no SHA extensions";
    }
};

TEST_F(ShaExtensions, NistVectors) {
    const struct {
        std::string message;
        std::size_t repeat;
        const char* digest;
    } cases[] = {
        {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        Bytes data;
        for (std::size_t i = 0; i < c.repeat; ++i) data.insert(data.end(), c.message.begin(), c.message.end());
        EXPECT_EQ(Extensions(data), c.digest) << c.message.substr(0, 8) << " x" << c.repeat;
        EXPECT_EQ(Extensions(data, {1, 63, 64, 65, 7}), c.digest) << c.message.substr(0, 8) << " in pieces";
    }
}

TEST_F(ShaExtensions, AgreesWithOpenSslOnEveryLengthUpTo4KiB) {
    const Bytes data = Random(4160, 1);
    for (std::size_t n = 0; n <= 4160; ++n) {
        const Bytes prefix(data.begin(), data.begin() + n);
        const std::string expected = OpenSsl(prefix);
        ASSERT_EQ(Extensions(prefix), expected) << n << " bytes";
        ASSERT_EQ(Extensions(prefix, {n % 67 + 1, 64, 3}), expected) << n << " bytes in pieces";
    }
}

TEST_F(ShaExtensions, AgreesWithOpenSslOnLargeInputs) {
    for (std::size_t size : {std::size_t(1) << 20, (std::size_t(1) << 20) + 55, std::size_t(28002252)}) {
        const Bytes data = Random(size, std::uint32_t(size));
        EXPECT_EQ(Extensions(data), OpenSsl(data)) << size;
        EXPECT_EQ(Extensions(data, {0x100000, 0x100000 - 1}), OpenSsl(data)) << size << " in reads";
    }
}

// The choice: every instruction the hasher uses must be there, and leaf 7
// only counts when the processor has it (a lower maximum leaf makes CPUID
// answer with another leaf's values).
TEST(ShaExtensionsChoice, NeedsShaSsse3AndSse41AndLeaf7) {
    constexpr std::uint32_t Sha = 1u << 29, Ssse3 = 1u << 9, Sse41 = 1u << 19;
    const struct {
        const char* what;
        CpuIdentity cpu;
        bool usable;
    } cases[] = {
        {"all of them", {7, Ssse3 | Sse41, Sha}, true},
        {"a later processor", {0x20, 0xFFFFFFFF, 0xFFFFFFFF}, true},
        {"no SHA", {0x16, Ssse3 | Sse41, ~Sha}, false},
        {"no SSSE3", {7, ~Ssse3, Sha}, false},
        {"no SSE4.1", {7, ~Sse41, Sha}, false},
        {"leaf 7 missing", {6, Ssse3 | Sse41, Sha}, false},
        {"no CPUID", {0, 0, 0}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(ShaExtensionsUsable(c.cpu), c.usable) << c.what;
}

// On the simulated PC, whose processor the test chooses.
class HashEngine : public DemoPc::SimTest {
protected:
    void SetUp() override {
        DemoPc::SimTest::SetUp();
        DemoPc::Setup(pc());
    }
    static void GiveShaExtensions() { Sim::pc().cpu.leaf7Ebx |= 1u << 29; }
};

TEST_F(HashEngine, CngWithoutTheExtensionsAndNotWithThem) {
    const Bytes data = Random(1000, 7);
    for (bool extensions : {false, true}) {
        SCOPED_TRACE(extensions ? "with the extensions" : "without");
        if (extensions && !HostHasShaExtensions()) GTEST_SKIP() << "this host's processor has no SHA extensions";
        Sim::Reset();
        if (extensions) GiveShaExtensions();
        Sha256 hash;
        std::uint8_t digest[32];
        ASSERT_TRUE(hash.Begin());
        ASSERT_TRUE(hash.Update(data.data(), data.size()));
        ASSERT_TRUE(hash.Finish(digest));
        EXPECT_EQ(Hex(digest), OpenSsl(data));
        EXPECT_EQ(pc().CallCount("BCryptHashData") > 0, !extensions);
        EXPECT_EQ(pc().loadedLibraries.empty(), extensions);
    }
}

TEST_F(HashEngine, TheProcessorEngineIsRefusedWhereItWouldFault) {
    Sha256 hash;
    EXPECT_FALSE(hash.Begin(Sha256::Engine::Processor));
    EXPECT_TRUE(hash.Begin(Sha256::Engine::Cng));
}

TEST_F(HashEngine, SelfCheckOnTheExtensionsPassesAndCatchesAChange) {
    if (!HostHasShaExtensions()) GTEST_SKIP() << "this host's processor has no SHA extensions";
    GiveShaExtensions();
    EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Intact);
    EXPECT_EQ(pc().CallCount("BCryptHashData"), 0);
    Bytes changed = *pc().files.Read(pc().moduleFileName);
    changed[changed.size() / 2] ^= 1;
    pc().files.AddFile(pc().moduleFileName, changed);
    EXPECT_EQ(CheckOwnFile(), SelfCheckResult::Distorted);
}

}  // namespace
