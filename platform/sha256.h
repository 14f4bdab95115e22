// SHA-256 through the system's CNG provider (bcrypt.dll, loaded at run time).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

class Sha256 {
public:
    Sha256() = default;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Begin();  // false when the provider cannot be loaded or opened
    bool Update(const void* data, std::size_t size);
    bool Finish(std::uint8_t digest[32]);

private:
    void Release();
    HMODULE library_ = nullptr;
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    decltype(&BCryptHashData) hashData_ = nullptr;
    decltype(&BCryptFinishHash) finishHash_ = nullptr;
    decltype(&BCryptDestroyHash) destroyHash_ = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm_ = nullptr;
};
