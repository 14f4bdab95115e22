// One owner for every handle the program opens. A TOwned closes what it
// holds when it goes out of scope, on every path, errors and exceptions
// included; it moves and is never copied, so a handle has exactly one
// owner and is closed exactly once.
//
// Each kind of handle has its traits: what value means "none" and which
// call closes it. The kinds differ in both, and mixing them up (FindClose
// on a file, CloseHandle on INVALID_HANDLE_VALUE) is the mistake this type
// exists to prevent.
#pragma once

#include "platform/win32.h"

template <typename Traits>
class TOwned {
public:
    using Handle = typename Traits::Handle;

    TOwned() = default;
    explicit TOwned(Handle handle) : handle_(handle) {}
    ~TOwned() { Close(); }
    TOwned(TOwned&& other) noexcept : handle_(other.Release()) {}
    TOwned& operator=(TOwned&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TOwned(const TOwned&) = delete;
    TOwned& operator=(const TOwned&) = delete;

    bool IsValid() const { return handle_ != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }
    Handle Get() const { return handle_; }

    // Gives the handle up without closing it.
    Handle Release() {
        const Handle handle = handle_;
        handle_ = Traits::Invalid();
        return handle;
    }
    // Closes what is held, and holds `handle` from now on.
    void Reset(Handle handle = Traits::Invalid()) {
        Close();
        handle_ = handle;
    }
    // For a call that hands a new handle out through a pointer: what was
    // held is closed first.
    Handle* Receive() {
        Close();
        return &handle_;
    }
    // Closes now and tells whether the close succeeded: for a file just
    // written, a failed close can be the first sign of a failed write.
    // Closing nothing succeeds.
    bool Close() {
        if (!IsValid()) return true;
        const bool closed = Traits::Close(handle_);
        handle_ = Traits::Invalid();
        return closed;
    }

private:
    Handle handle_ = Traits::Invalid();
};

// Kernel objects whose "none" is null: processes, threads, tokens, events,
// file mappings.
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};

// Files, whose "none" is INVALID_HANDLE_VALUE.
struct FileTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return CloseHandle(handle) != FALSE; }
};

// Folder listings from FindFirstFileA.
struct FindTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static bool Close(Handle handle) { return FindClose(handle) != FALSE; }
};

// Open registry keys. Predefined roots (HKEY_LOCAL_MACHINE...) are never
// owned: only what RegOpenKeyExA or RegCreateKeyExA handed out.
struct KeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return RegCloseKey(handle) == ERROR_SUCCESS; }
};

// Libraries loaded by this program.
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return FreeLibrary(handle) != FALSE; }
};

// Event sources registered with RegisterEventSourceW.
struct EventSourceTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return DeregisterEventSource(handle) != FALSE; }
};

// SIDs from AllocateAndInitializeSid, and memory the system allocated for
// the caller with LocalAlloc (security descriptors made from SDDL). Each
// release returns null when it succeeds.
struct SidTraits {
    using Handle = PSID;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return FreeSid(handle) == nullptr; }
};
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return LocalFree(handle) == nullptr; }
};

// The screen's device context, from GetDC(nullptr), and fonts made by
// CreateFontIndirectA.
struct ScreenDcTraits {
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return ReleaseDC(nullptr, handle) == 1; }
};
struct FontTraits {
    using Handle = HFONT;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) { return DeleteObject(handle) != FALSE; }
};

// COM interfaces this program was handed, and the strings it allocated
// for COM.
template <typename Interface>
struct ComTraits {
    using Handle = Interface*;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) {
        handle->Release();
        return true;
    }
};
struct BstrTraits {
    using Handle = BSTR;
    static Handle Invalid() { return nullptr; }
    static bool Close(Handle handle) {
        SysFreeString(handle);
        return true;
    }
};

using TOwnedHandle = TOwned<KernelObjectTraits>;
using TOwnedFile = TOwned<FileTraits>;
using TOwnedFind = TOwned<FindTraits>;
using TOwnedKey = TOwned<KeyTraits>;
using TOwnedModule = TOwned<ModuleTraits>;
using TOwnedEventSource = TOwned<EventSourceTraits>;
using TOwnedSid = TOwned<SidTraits>;
using TOwnedLocal = TOwned<LocalMemoryTraits>;
using TOwnedScreenDc = TOwned<ScreenDcTraits>;
using TOwnedFont = TOwned<FontTraits>;

template <typename Interface>
using TOwnedCom = TOwned<ComTraits<Interface>>;
using TOwnedBstr = TOwned<BstrTraits>;
