// A text file read line by line, the way the language support files and the
// "lng" version value are read.
//
// Line rules: a line ends at LF; every CR is dropped (the one before an LF
// as well as a lone one); a byte 0x1A (Ctrl+Z) ends the text; lines have no
// length limit and the last one needs no line end. Reading at the end of
// the text gives an empty line, so an empty file reads as one empty line.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/owned_handle.h"
#include "platform/win32.h"
#include "runtime/exception.h"

// A file that could not be opened or read, or a reader that is not open.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, DWORD error) : Exception(std::move(message)), error_(error) {}
    const char* ClassName() const override { return "EInOutError"; }
    DWORD Error() const { return error_; }

private:
    DWORD error_;
};

class TTextReader {
public:
    TTextReader() = default;
    ~TTextReader();
    TTextReader(const TTextReader&) = delete;
    TTextReader& operator=(const TTextReader&) = delete;
    TTextReader(TTextReader&&) = default;
    TTextReader& operator=(TTextReader&&) = default;

    // Names the file the reader reads; an open file is closed first.
    void Bind(const std::string& path);
    // Closes the file and forgets its name.
    void Unbind();
    bool IsBound() const { return bound_; }
    bool IsOpen() const { return file_.IsValid(); }
    const std::string& Path() const { return path_; }

    // Opens the bound file for reading from its beginning (closing it first
    // when it is open). Read-only, shared for reading only: others may read
    // the file meanwhile but not change it.
    void Open();
    // Closing a reader that is not open does nothing.
    void Close();

    std::string ReadLine();
    // At the end of the text: the end of the file or a Ctrl+Z.
    bool Eof();

private:
    // Makes at least one unread byte available; false at the end of the file.
    bool Fill();
    void RequireOpen() const;

    std::string path_;
    bool bound_ = false;
    TOwnedFile file_;
    std::vector<char> buffer_;
    std::size_t next_ = 0;    // first unread byte in buffer_
    std::size_t filled_ = 0;  // bytes of buffer_ that hold file data
    bool ended_ = false;      // the end of the file or a Ctrl+Z has been reached
};
