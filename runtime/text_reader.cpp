#include "runtime/text_reader.h"

#include <cstring>

namespace {

constexpr std::size_t Chunk = 64 * 1024;
constexpr char CtrlZ = 0x1A;

}  // namespace

TTextReader::~TTextReader() { Close(); }

void TTextReader::Bind(const std::string& path) {
    Close();
    path_ = path;
    bound_ = true;
}

void TTextReader::Unbind() {
    Close();
    path_.clear();
    bound_ = false;
}

void TTextReader::Open() {
    Close();
    if (!bound_) throw EInOutError("No file is bound to the reader", ERROR_INVALID_HANDLE);
    file_.Reset(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (!file_) throw EInOutError("Cannot open " + path_, GetLastError());
    buffer_.resize(Chunk);
    next_ = filled_ = 0;
    ended_ = false;
}

void TTextReader::Close() {
    if (!file_) return;
    file_.Close();
    buffer_.clear();
    buffer_.shrink_to_fit();
    next_ = filled_ = 0;
    ended_ = false;
}

void TTextReader::RequireOpen() const {
    if (!file_) throw EInOutError("The file is not open", ERROR_INVALID_HANDLE);
}

bool TTextReader::Fill() {
    if (next_ < filled_) return true;
    if (ended_) return false;
    DWORD read = 0;
    if (!ReadFile(file_.Get(), buffer_.data(), DWORD(buffer_.size()), &read, nullptr))
        throw EInOutError("Cannot read " + path_, GetLastError());
    next_ = 0;
    filled_ = read;
    if (read == 0) ended_ = true;
    return read != 0;
}

bool TTextReader::Eof() {
    RequireOpen();
    if (!Fill()) return true;
    if (buffer_[next_] == CtrlZ) {
        ended_ = true;
        filled_ = next_;
        return true;
    }
    return false;
}

std::string TTextReader::ReadLine() {
    RequireOpen();
    std::string line;
    while (Fill()) {
        const char* start = buffer_.data() + next_;
        const std::size_t available = filled_ - next_;
        // Take everything up to the first byte that needs a decision.
        std::size_t run = 0;
        while (run < available && start[run] != '\n' && start[run] != '\r' && start[run] != CtrlZ) ++run;
        line.append(start, run);
        next_ += run;
        if (run == available) continue;
        const char stop = buffer_[next_];
        if (stop == CtrlZ) {
            // Nothing after a Ctrl+Z belongs to the text.
            ended_ = true;
            filled_ = next_;
            break;
        }
        ++next_;
        if (stop == '\n') break;
        // A CR is never part of a line.
    }
    return line;
}
