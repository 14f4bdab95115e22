#include "platform/sha256.h"

#include "platform/system_library.h"

namespace {
template <typename F>
F Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace

Sha256::~Sha256() { Release(); }

bool Sha256::Begin() { return Begin(ShaExtensionsUsable(ReadCpuIdentity()) ? Engine::Processor : Engine::Cng); }

bool Sha256::Begin(Engine engine) {
    Release();
    if (engine == Engine::Processor) {
        if (!ShaExtensionsUsable(ReadCpuIdentity())) return false;  // the instructions would fault
        extensions_.emplace();
        return true;
    }
    library_ = LoadSystemLibrary("bcrypt.dll");
    if (!library_) return false;
    auto open = Lookup<decltype(&BCryptOpenAlgorithmProvider)>(library_, "BCryptOpenAlgorithmProvider");
    auto create = Lookup<decltype(&BCryptCreateHash)>(library_, "BCryptCreateHash");
    hashData_ = Lookup<decltype(&BCryptHashData)>(library_, "BCryptHashData");
    finishHash_ = Lookup<decltype(&BCryptFinishHash)>(library_, "BCryptFinishHash");
    destroyHash_ = Lookup<decltype(&BCryptDestroyHash)>(library_, "BCryptDestroyHash");
    closeAlgorithm_ = Lookup<decltype(&BCryptCloseAlgorithmProvider)>(library_, "BCryptCloseAlgorithmProvider");
    if (!open || !create || !hashData_ || !finishHash_ || !destroyHash_ || !closeAlgorithm_) return false;
    if (!NT_SUCCESS(open(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        algorithm_ = nullptr;
        return false;
    }
    // Windows 7 and later let CNG allocate the hash object itself.
    if (!NT_SUCCESS(create(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0))) {
        hash_ = nullptr;
        return false;
    }
    return true;
}

bool Sha256::Update(const void* data, std::size_t size) {
    if (extensions_) {
        extensions_->Update(data, size);
        return true;
    }
    if (!hash_) return false;
    auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000 : ULONG(size);
        if (!NT_SUCCESS(hashData_(hash_, bytes, chunk, 0))) return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool Sha256::Finish(std::uint8_t digest[32]) {
    if (extensions_) {
        extensions_->Finish(digest);
        return true;
    }
    if (!hash_) return false;
    return NT_SUCCESS(finishHash_(hash_, digest, 32, 0));
}

void Sha256::Release() {
    extensions_.reset();
    if (hash_) destroyHash_(hash_);
    if (algorithm_) closeAlgorithm_(algorithm_, 0);
    if (library_) FreeLibrary(library_);
    hash_ = nullptr;
    algorithm_ = nullptr;
    library_ = nullptr;
}
