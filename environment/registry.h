// TRegistry: a root key, at most one open key, and the access mask every
// open requests (reads included).
#pragma once

#include <string>

#include "platform/owned_handle.h"
#include "platform/win32.h"

class TRegistry {
public:
    explicit TRegistry(REGSAM access = KEY_ALL_ACCESS) : access_(access) {}
    ~TRegistry() { ClosePath(); }
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // A different root closes the open key; the same root changes nothing.
    void SelectRoot(HKEY root);
    // A leading backslash starts at the root, otherwise at the open key (or
    // the root when none is open). Failure changes nothing and raises nothing.
    bool OpenPath(const std::string& path, bool create);
    bool HasValue(const std::string& name);
    // Missing or empty values read as empty text; text types are taken up to
    // their first NUL, unexpanded; any other type raises ERegistryException.
    // `type`, when given, receives REG_SZ or REG_EXPAND_SZ (REG_NONE for
    // a value that is missing or empty).
    std::string ReadText(const std::string& name, DWORD* type = nullptr);
    // A value as stored, read in one query into a buffer of `limit` bytes:
    // false when there is no open key, or the value is missing, larger than
    // the buffer or unreadable.
    bool ReadBytes(const std::string& name, DWORD limit, DWORD& type, std::string& bytes);
    // Raises ERegistryException (with an empty message) when the write fails.
    void WriteDword(const std::string& name, DWORD value);
    void WriteText(const std::string& name, const std::string& value);  // REG_SZ
    void ClosePath();

    HKEY Root() const { return root_; }
    REGSAM Access() const { return access_; }
    bool HasOpenKey() const { return key_.IsValid(); }

private:
    HKEY root_ = HKEY_CURRENT_USER;
    TOwnedKey key_;
    REGSAM access_;
};

// Closes the accessor's open key when a step ends, also by an error, so the
// next OpenPath starts at the root again.
class ClosePathOnExit {
public:
    explicit ClosePathOnExit(TRegistry& registry) : registry_(registry) {}
    ~ClosePathOnExit() { registry_.ClosePath(); }
    ClosePathOnExit(const ClosePathOnExit&) = delete;
    ClosePathOnExit& operator=(const ClosePathOnExit&) = delete;

private:
    TRegistry& registry_;
};
