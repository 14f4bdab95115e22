// SHA-256 on the processor's SHA extensions where it has them, otherwise
// through the system's CNG provider (bcrypt.dll, loaded at run time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/owned_handle.h"
#include "platform/sha256_extensions.h"
#include "platform/win32.h"

class Sha256 {
public:
    Sha256() = default;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    enum class Engine { Processor, Cng };
    // The processor's extensions when ShaExtensionsUsable(ReadCpuIdentity()),
    // CNG otherwise. False when CNG is needed and cannot be loaded or opened.
    bool Begin();
    bool Begin(Engine engine);  // that engine; false for Processor where unusable
    bool Update(const void* data, std::size_t size);
    bool Finish(std::uint8_t digest[32]);

private:
    void Release();
    std::optional<Sha256Extensions> extensions_;
    TOwnedModule library_;
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    decltype(&BCryptHashData) hashData_ = nullptr;
    decltype(&BCryptFinishHash) finishHash_ = nullptr;
    decltype(&BCryptDestroyHash) destroyHash_ = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm_ = nullptr;
};
