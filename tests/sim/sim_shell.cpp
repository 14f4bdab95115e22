// Covers: platform/win32.h, host half. COM and the desktop shell's automation objects: ShellWindows finds the
// desktop, whose view leads to the shell's application object, whose
// ShellExecute starts a program in the shell's process, with its token.
// COM connects whoever asks to the shell of the user at the desktop,
// another user's too; with no shell the desktop is not found (S_FALSE).
// A hung shell answers no call, activation included, until it recovers.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "tests/sim/machine.h"
#include "tests/sim/sim_threads.h"

const CLSID CLSID_ShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const GUID SID_STopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellWindows = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID IID_IServiceProvider = {0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
const IID IID_IShellBrowser = {0x000214E2, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellFolderViewDual = {0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID IID_IShellDispatch2 = {0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

namespace Sim {

namespace {

const IID ShellViewId = {0x000214E3, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
bool Same(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
HRESULT FromWin32(DWORD error) { return HRESULT(0x80070000u | (error & 0xFFFF)); }

std::optional<HRESULT> AwaitShell(const std::string& method) {
    if (!pc().shell.hung || WaitUntil([] { return !pc().shell.hung; })) return std::nullopt;
    Unmodelled(method + " waits for ever for a hung shell");
    return HRESULT(0x8001011Fu);  // RPC_E_CALL_CANCELED
}

// A COM call: logged, failing as injected, and only in an initialised apartment.
std::optional<HRESULT> Call(const std::string& method, const std::string& detail = "") {
    if (!pc().comInitialized) Unmodelled(method + " outside an initialised COM apartment");
    if (auto e = pc().Enter(method, detail)) return FromWin32(*e);
    return AwaitShell(method);
}

bool IsText(const VARIANT& v) { return V_VT(&v) == VT_BSTR && pc().strings.count(V_BSTR(&v)); }

// Each object on the way, by its kind, answering for its own interface.
class ShellObject final : public IShellWindows,
                          public IServiceProvider,
                          public IShellBrowser,
                          public IShellView,
                          public IShellFolderViewDual,
                          public IShellDispatch2 {
public:
    enum Kind { Windows, Desktop, Browser, View, FolderView, Application };
    // Makes the next object on the way and hands it out as `riid`.
    static HRESULT Make(Kind kind, REFIID riid, void** object) {
        ShellObject* made = new ShellObject(kind);
        const HRESULT result = made->QueryInterface(riid, object);
        made->Release();
        return result;
    }
    HRESULT QueryInterface(REFIID riid, void** object) override {
        void* const own[] = {static_cast<IShellWindows*>(this),        static_cast<IServiceProvider*>(this),
                             static_cast<IShellBrowser*>(this),        static_cast<IShellView*>(this),
                             static_cast<IShellFolderViewDual*>(this), static_cast<IShellDispatch2*>(this)};
        const IID* const ids[] = {&IID_IShellWindows, &IID_IServiceProvider,     &IID_IShellBrowser,
                                  &ShellViewId,       &IID_IShellFolderViewDual, &IID_IShellDispatch2};
        const bool dispatch = Same(riid, IID_IDispatch) && kind_ != Browser && kind_ != View;
        *object = dispatch ? static_cast<IShellWindows*>(this) : Same(riid, *ids[kind_]) ? own[kind_] : nullptr;
        if (!*object) return HRESULT(0x80004002u);  // E_NOINTERFACE
        ++references_;
        return S_OK;
    }
    ULONG Release() override {
        if (!pc().comInitialized) Unmodelled("Release after CoUninitialize");
        if (--references_) return references_;
        pc().comObjects.erase(this);
        delete this;
        return 0;
    }
    HRESULT FindWindowSW(VARIANT* location, VARIANT* root, int windowClass, long* window, int options,
                         IDispatch** found) override {
        if (!location || V_VT(location) != VT_I4 || V_I4(location) != CSIDL_DESKTOP || (root && V_VT(root)) ||
            windowClass != SWC_DESKTOP || options != SWFO_NEEDDISPATCH || !window || !found)
            Unmodelled("FindWindowSW for anything but the desktop's automation object");
        *found = nullptr;
        *window = 0;
        if (auto e = Call("IShellWindows::FindWindowSW")) return *e;
        if (!pc().shell.running) return S_FALSE;
        *window = long(reinterpret_cast<std::uintptr_t>(pc().shell.window));
        return Make(Desktop, IID_IDispatch, reinterpret_cast<void**>(found));
    }
    HRESULT QueryService(REFGUID service, REFIID riid, void** object) override {
        if (!Same(service, SID_STopLevelBrowser)) Unmodelled("QueryService for another service");
        return Next("IServiceProvider::QueryService", Browser, riid, object);
    }
    HRESULT QueryActiveShellView(IShellView** view) override {
        return Next("IShellBrowser::QueryActiveShellView", View, ShellViewId, reinterpret_cast<void**>(view));
    }
    HRESULT GetItemObject(UINT item, REFIID riid, void** object) override {
        if (item != SVGIO_BACKGROUND) Unmodelled("GetItemObject for the view's items");
        return Next("IShellView::GetItemObject", FolderView, riid, object);
    }
    HRESULT get_Application(IDispatch** application) override {
        return Next("IShellFolderViewDual::get_Application", Application, IID_IDispatch,
                    reinterpret_cast<void**>(application));
    }
    // A file that is not there starts nothing (S_FALSE).
    HRESULT ShellExecute(BSTR file, VARIANT arguments, VARIANT directory, VARIANT operation, VARIANT show) override {
        Machine& m = pc();
        if (!m.strings.count(file) || V_VT(&arguments) != VT_EMPTY || !IsText(directory) || !IsText(operation) ||
            std::wstring(V_BSTR(&operation)) != L"open" || V_VT(&show) != VT_I4)
            Unmodelled("ShellExecute other than \"open\" on a program in a folder, without arguments");
        const std::string name = Utf8(file), folder = Utf8(V_BSTR(&directory));
        if (auto e = Call("IShellDispatch2::ShellExecute", name)) return *e;
        m.launches.push_back(
            {"open", name, "", folder, m.currentFolder, int(V_I4(&show)), m.now, "IShellDispatch2::ShellExecute"});
        const std::string path = m.files.Resolve(m.files.Normalize(name, folder));
        const auto it = m.files.nodes.find(path);
        if (path.empty() || it == m.files.nodes.end() || it->second.directory) return S_FALSE;
        m.launches.back().elevated = m.shell.elevated;
        StartMainAppIfItIs(path);
        return S_OK;
    }

private:
    explicit ShellObject(Kind kind) : kind_(kind) { pc().comObjects.insert(this); }
    HRESULT Next(const char* method, Kind kind, REFIID riid, void** object) {
        *object = nullptr;
        if (auto e = Call(method)) return *e;
        return Make(kind, riid, object);
    }

    Kind kind_;
    ULONG references_ = 1;
};

}  // namespace

}  // namespace Sim

using Sim::pc;

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
    if (auto e = pc().Enter("CoInitializeEx", "")) return Sim::FromWin32(*e);
    if (reserved || (flags & ~DWORD(COINIT_DISABLE_OLE1DDE)) != COINIT_APARTMENTTHREADED)
        Sim::Unmodelled("CoInitializeEx other than a single-threaded apartment");
    return ++pc().comInitialized == 1 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
    if (!pc().comInitialized--) Sim::Unmodelled("CoUninitialize without CoInitializeEx");
}

HRESULT WINAPI CoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID riid, LPVOID* object) {
    *object = nullptr;
    if (auto e = pc().Enter("CoCreateInstance", "")) return Sim::FromWin32(*e);
    if (!Sim::Same(classId, CLSID_ShellWindows) || outer || context != CLSCTX_LOCAL_SERVER)
        Sim::Unmodelled("CoCreateInstance of anything but the shell's windows, out of process");
    if (!pc().comInitialized) return HRESULT(0x800401F0u);  // CO_E_NOTINITIALIZED
    if (auto e = Sim::AwaitShell("CoCreateInstance")) return *e;
    return Sim::ShellObject::Make(Sim::ShellObject::Windows, riid, object);
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (pc().Enter("SysAllocString", "") || !text) return nullptr;
    const std::size_t length = std::wcslen(text) + 1;
    BSTR copy = new OLECHAR[length];
    std::copy(text, text + length, copy);
    pc().strings.insert(copy);
    return copy;
}

void WINAPI SysFreeString(BSTR text) {
    if (text && !pc().strings.erase(text)) Sim::Unmodelled("SysFreeString of a string it did not allocate");
    delete[] text;
}
