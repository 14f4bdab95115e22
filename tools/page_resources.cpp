// lexomir_page_resources: puts a linked image's resource section on a page
// boundary in the file, so that the loader maps the payload from the file
// instead of reading it into private memory.
//
//   lexomir_page_resources FILE
//
// Runs after linking and before sealing (the move changes the file's bytes).
// The file is replaced whole through a temporary beside it, so a failure
// leaves it as the linker wrote it. Exits 0 on success, 2 on any failure.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/resource_page.h"

namespace {

constexpr int ExitOk = 0;
constexpr int ExitError = 2;

bool ReadWhole(const char* path, std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(size));
        ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    return std::fclose(f) == 0 && ok;
}

// Writes the file anew beside `path`, with its permissions, and renames it
// over `path`.
bool Replace(const char* path, const std::vector<std::uint8_t>& bytes) {
    struct stat original {};
    if (stat(path, &original) != 0) return false;
    const std::string temporary = std::string(path) + ".paging";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    ok = ok && chmod(temporary.c_str(), original.st_mode & 07777) == 0;
    ok = ok && std::rename(temporary.c_str(), path) == 0;
    if (!ok) {
        const int saved = errno;
        std::remove(temporary.c_str());
        errno = saved;
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lexomir_page_resources FILE\n");
        return ExitError;
    }
    const char* path = argv[1];
    std::vector<std::uint8_t> image;
    if (!ReadWhole(path, image)) {
        std::fprintf(stderr, "lexomir_page_resources: cannot read %s: %s\n", path, std::strerror(errno));
        return ExitError;
    }
    std::uint32_t moved = 0;
    std::string error;
    if (!ResourcePage::PlaceResourcesOnPage(image, moved, error)) {
        std::fprintf(stderr, "lexomir_page_resources: %s: %s\n", path, error.c_str());
        return ExitError;
    }
    if (moved != 0 && !Replace(path, image)) {
        std::fprintf(stderr, "lexomir_page_resources: cannot write %s: %s\n", path, std::strerror(errno));
        return ExitError;
    }
    std::printf("%s: resources on a page boundary in the file (%u bytes inserted)\n", path, moved);
    return ExitOk;
}
