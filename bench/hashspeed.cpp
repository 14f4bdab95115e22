// Throughput of the ways a Windows program can compute SHA-256 over the
// installer's file, each timed with QueryPerformanceCounter:
//
//   hashspeed.exe FILE REPS
//
// For each of REPS rounds prints one line per method:
//   read   ReadFile of FILE in 1 MiB pieces, no hashing (the I/O alone)
//   bcrypt CNG (BCryptHashData, 1 MiB pieces) over FILE already in memory,
//          the calls the installer's self-check makes
//   capi   CryptoAPI (CALG_SHA_256, PROV_RSA_AES) over the same memory
//   shani  the installer's own SHA-256 on the processor's SHA extensions
//          (skipped when the processor has none)
// as "method=bcrypt ms=12.345 mib_s=123.4 digest=...". The digests must
// agree; the last three hash the same bytes.
// windows.h comes first: the other SDK headers need it.
#include <windows.h>

#include <bcrypt.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wincrypt.h>

#include "platform/sha256.h"

#define PIECE (1u << 20)

static double NowMs(void) {
    static LARGE_INTEGER f;
    LARGE_INTEGER t;
    if (!f.QuadPart) QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1000.0 / (double)f.QuadPart;
}

static void Hex(const unsigned char* d, char* out) {
    for (int i = 0; i < 32; ++i) sprintf(out + 2 * i, "%02x", d[i]);
}

static int HashBcrypt(const unsigned char* data, size_t size, unsigned char out[32]) {
    BCRYPT_ALG_HANDLE alg;
    BCRYPT_HASH_HANDLE h;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, NULL, 0) != 0) return 0;
    if (BCryptCreateHash(alg, &h, NULL, 0, NULL, 0, 0) != 0) return 0;
    for (size_t at = 0; at < size; at += PIECE) {
        ULONG n = (ULONG)(size - at < PIECE ? size - at : PIECE);
        if (BCryptHashData(h, (PUCHAR)data + at, n, 0) != 0) return 0;
    }
    BCryptFinishHash(h, out, 32, 0);
    BCryptDestroyHash(h);
    BCryptCloseAlgorithmProvider(alg, 0);
    return 1;
}

static int HashCapi(const unsigned char* data, size_t size, unsigned char out[32]) {
    HCRYPTPROV prov;
    HCRYPTHASH h;
    if (!CryptAcquireContextA(&prov, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return 0;
    if (!CryptCreateHash(prov, CALG_SHA_256, 0, 0, &h)) return 0;
    for (size_t at = 0; at < size; at += PIECE) {
        DWORD n = (DWORD)(size - at < PIECE ? size - at : PIECE);
        if (!CryptHashData(h, data + at, n, 0)) return 0;
    }
    DWORD len = 32;
    CryptGetHashParam(h, HP_HASHVAL, out, &len, 0);
    CryptDestroyHash(h);
    CryptReleaseContext(prov, 0);
    return 1;
}

// The installer's own hash, on the processor's SHA extensions.
static int HashProcessor(const unsigned char* data, size_t size, unsigned char out[32]) {
    Sha256 hash;
    return hash.Begin(Sha256::Engine::Processor) && hash.Update(data, size) && hash.Finish(out);
}

static void Report(const char* method, double ms, size_t size, const unsigned char* digest) {
    char text[65] = "-";
    if (digest) Hex(digest, text);
    printf("method=%s ms=%.3f mib_s=%.1f digest=%s\n", method, ms, (double)size / 1048576.0 / (ms / 1000.0), text);
    fflush(stdout);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: hashspeed FILE REPS\n");
        return 2;
    }
    const int reps = atoi(argv[2]);
    HANDLE f =
        CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (f == INVALID_HANDLE_VALUE) return 3;
    LARGE_INTEGER sz;
    GetFileSizeEx(f, &sz);
    const size_t size = (size_t)sz.QuadPart;
    unsigned char* data = static_cast<unsigned char*>(malloc(size));
    unsigned char* piece = static_cast<unsigned char*>(malloc(PIECE));
    if (!data || !piece) return 4;
    DWORD got;
    if (!ReadFile(f, data, (DWORD)size, &got, NULL) || got != size) return 5;
    unsigned char d[32];
    const bool shani = ShaExtensionsUsable(ReadCpuIdentity());
    for (int r = 0; r < reps; ++r) {
        LARGE_INTEGER zero = {0};
        SetFilePointerEx(f, zero, NULL, FILE_BEGIN);
        double t = NowMs();
        size_t total = 0;
        while (ReadFile(f, piece, PIECE, &got, NULL) && got) total += got;
        Report("read", NowMs() - t, total, NULL);

        t = NowMs();
        if (!HashBcrypt(data, size, d)) return 6;
        Report("bcrypt", NowMs() - t, size, d);

        t = NowMs();
        if (!HashCapi(data, size, d)) return 7;
        Report("capi", NowMs() - t, size, d);

        if (shani) {
            t = NowMs();
            if (!HashProcessor(data, size, d)) return 8;
            Report("shani", NowMs() - t, size, d);
        }
    }
    CloseHandle(f);
    return 0;
}
