#include "driver/program_entry.h"

#include <new>
#include <string>

#include "driver/update_sequence.h"
#include "environment/process_environment.h"
#include "messages/lang_unit.h"
#include "platform/system_library.h"
#include "platform/win32.h"
#include "runtime/exception.h"
#include "shared/update_package.h"

// A release build names its version (cmake -DLEXOMIR_PACKAGE_VERSION=N).
#ifndef LEXOMIR_PACKAGE_VERSION
#define LEXOMIR_PACKAGE_VERSION 1001
#endif

namespace {

// The last word on an error no stage expected: name it and end the run.
void ShowApplicationError(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "Application Error", MB_OK | MB_ICONHAND | MB_TASKMODAL);
}

// Releases the process environment on every ending, the unexpected ones too.
struct ReleaseOnExit {
    ~ReleaseOnExit() {
        ReleaseProcessEnvironment();
        LangUnit::ReleaseLangUnit();  // closes the language file
    }
};

}  // namespace

int RunInstaller() {
    // Before anything can load a library: the installer runs elevated, often
    // from a downloads folder where a planted DLL could wait.
    RestrictLibrarySearch();
    ReleaseOnExit release;
    try {
        InitProcessEnvironment();
        UpdatePackage = TUpdatePackage{};
        UpdatePackage.PackageTitle = "\"Тирвена\" версии ";
        UpdatePackage.DataName = "lxn";
        UpdatePackage.PackageVersion = LEXOMIR_PACKAGE_VERSION;
        return static_cast<int>(RunUpdateSequence());
    } catch (const Exception& e) {
        std::string text = e.ClassName();
        if (!e.Message().empty()) text += ": " + e.Message();
        ShowApplicationError(text);
    } catch (const std::bad_alloc&) {
        ShowApplicationError("Out of memory");
    } catch (...) {
        ShowApplicationError("Unexpected error");
    }
    return static_cast<int>(UpdateOutcome::UnexpectedError);
}
