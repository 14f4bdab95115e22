// The self-check's walk over a hostile or truncated executable: it must
// answer (intact, changed, malformed), never crash or read out of bounds.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>

#include "install/pe_image.h"

namespace {
class Sha : public PeImage::DigestSink {
public:
    Sha() : ctx_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr); }
    ~Sha() override { EVP_MD_CTX_free(ctx_); }
    bool Update(const void* data, std::size_t len) override { return EVP_DigestUpdate(ctx_, data, len) == 1; }
    bool Finish(PeImage::Digest& out) override { return EVP_DigestFinal_ex(ctx_, out.data(), nullptr) == 1; }

private:
    EVP_MD_CTX* ctx_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PeImage::MemorySource source({data, size});
    Sha hash;
    const PeImage::SealStatus status = PeImage::CheckSeal(source, hash);
    // Arbitrary bytes are never a file that could not be read.
    if (status == PeImage::SealStatus::Unreadable) __builtin_trap();
    return 0;
}
