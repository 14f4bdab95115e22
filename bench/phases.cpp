// The installer's quiet run, cut into its phases with a timestamp between
// each. It calls the product's own functions in the order RunInstaller and
// RunUpdateSequence call them on a quiet run with the application not
// running, and is linked from the same sources with the same resources and
// seal, so each phase costs what it costs in LexomirUpdate.exe.
//
// The launcher passes its start time in BENCH_LAUNCH_QPC; the gap to the
// first instruction here is process start-up (Wine's process creation, the
// loader mapping the 28 MB image, the C and C++ runtime start). One line of
// key=value pairs (milliseconds) is appended to the file BENCH_PHASES_OUT.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/app_instance.h"
#include "driver/main_app.h"
#include "driver/update_sequence.h"
#include "environment/install_target.h"
#include "environment/process_environment.h"
#include "install/embedded_file.h"
#include "install/installed_size.h"
#include "install/self_check.h"
#include "platform/win32.h"
#include "shared/update_package.h"

namespace {

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const LARGE_INTEGER entry = Now();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto ms = [&](LARGE_INTEGER from, LARGE_INTEGER to) {
        return double(to.QuadPart - from.QuadPart) * 1000.0 / double(frequency.QuadPart);
    };

    // Start-up and environment, as RunInstaller does them.
    InitProcessEnvironment();
    UpdatePackage = TUpdatePackage{};
    UpdatePackage.PackageTitle = "\"Тирвена\" версии ";
    UpdatePackage.DataName = "lxn";
    UpdatePackage.PackageVersion = 1001;
    FillPackageConstants();
    const LARGE_INTEGER initialised = Now();

    // The update sequence, quiet, with no application running.
    int code = 2;
    LARGE_INTEGER discovered = initialised, probed = initialised, checked = initialised, written = initialised,
                  sized = initialised;
    if (DiscoverInstallTarget() && InstallEnvironment.UserIsAdmin) {
        discovered = Now();
        const bool notRunning = ProbeInstanceMapping();
        probed = Now();
        const bool intact = notRunning && CheckOwnFile() == SelfCheckResult::Intact;
        checked = Now();
        const DWORD attributes = GetFileAttributesA(AppExecutablePath().c_str());
        if (intact && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            const TUpdatePackage& p = UpdatePackage;
            const bool installed =
                InstallEmbeddedFile(p.DataName, p.DataExt, InstallEnvironment.AppFolder + p.DataFileName, false);
            written = Now();
            ReportInstalledSize();
            sized = Now();
            code = installed ? 0 : 4;
        }
    }
    ReleaseProcessEnvironment();
    const LARGE_INTEGER released = Now();

    double startup = -1;
    if (const char* launch = std::getenv("BENCH_LAUNCH_QPC")) {
        LARGE_INTEGER start;
        start.QuadPart = std::strtoll(launch, nullptr, 10);
        startup = ms(start, entry);
    }
    if (const char* out = std::getenv("BENCH_PHASES_OUT")) {
        if (FILE* f = std::fopen(out, "ab")) {
            std::fprintf(f,
                         "code=%d startup=%.3f init=%.3f discover=%.3f probe=%.3f selfcheck=%.3f write=%.3f "
                         "size=%.3f release=%.3f inprocess=%.3f\n",
                         code, startup, ms(entry, initialised), ms(initialised, discovered), ms(discovered, probed),
                         ms(probed, checked), ms(checked, written), ms(written, sized), ms(sized, released),
                         ms(entry, released));
            std::fclose(f);
        }
    }
    return code;
}
