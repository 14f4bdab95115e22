#include "platform/sha256.h"

#include "platform/system_library.h"

Sha256::~Sha256() { Release(); }

bool Sha256::Begin() { return Begin(ShaExtensionsUsable(ReadCpuIdentity()) ? Engine::Processor : Engine::Cng); }

bool Sha256::Begin(Engine engine) {
    Release();
    if (engine == Engine::Processor) {
        if (!ShaExtensionsUsable(ReadCpuIdentity())) return false;  // the instructions would fault
        extensions_.emplace();
        return true;
    }
    library_.Reset(LoadSystemLibrary("bcrypt.dll"));
    if (!library_) return false;
    auto open = LookupFunction<decltype(&BCryptOpenAlgorithmProvider)>(library_.Get(), "BCryptOpenAlgorithmProvider");
    auto create = LookupFunction<decltype(&BCryptCreateHash)>(library_.Get(), "BCryptCreateHash");
    hashData_ = LookupFunction<decltype(&BCryptHashData)>(library_.Get(), "BCryptHashData");
    finishHash_ = LookupFunction<decltype(&BCryptFinishHash)>(library_.Get(), "BCryptFinishHash");
    destroyHash_ = LookupFunction<decltype(&BCryptDestroyHash)>(library_.Get(), "BCryptDestroyHash");
    closeAlgorithm_ =
        LookupFunction<decltype(&BCryptCloseAlgorithmProvider)>(library_.Get(), "BCryptCloseAlgorithmProvider");
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
    hash_ = nullptr;
    algorithm_ = nullptr;
    library_.Reset();
}
