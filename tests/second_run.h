// A second run of the installer on the same simulated PC, started while
// the first is inside a call: it runs to its end with a process of its
// own (its own start-up values and registry accessor), and the first then
// goes on as if it had been paused there. The same machine, the same
// files, the same answers to boxes.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "driver/app_instance.h"
#include "driver/program_entry.h"
#include "driver/update_package.h"
#include "driver/update_sequence.h"
#include "environment/install_environment.h"
#include "environment/process_environment.h"
#include "messages/messages.h"
#include "tests/sim/machine.h"

namespace SecondRun {

inline int Run(const std::string& commandLine) {
    Sim::Machine& m = Sim::pc();
    // The first run's process, put aside.
    const bool russianUi = RussianUi, is64 = Is64BitOs, quiet = QuietMode;
    const std::string first = FirstArgument, second = SecondArgument;
    const DWORD platform = Win32Platform;
    std::unique_ptr<TRegistry> registry = std::move(SharedRegistry);
    const TUpdatePackage package = UpdatePackage;
    const TInstallEnvironment environment = InstallEnvironment;
    const TMessageSettings messages = MessageSettings();
    const TAppDealings dealings = std::exchange(AppDealings, {});
    auto meanwhile = std::move(m.meanwhile);
    m.meanwhile = nullptr;
    const std::string firstCommandLine = std::exchange(m.commandLine, commandLine);

    ReleaseProcessEnvironment();  // a new process starts from nothing
    const int code = RunInstaller();

    m.commandLine = firstCommandLine;
    m.meanwhile = std::move(meanwhile);
    RussianUi = russianUi;
    Is64BitOs = is64;
    QuietMode = quiet;
    FirstArgument = first;
    SecondArgument = second;
    Win32Platform = platform;
    SharedRegistry = std::move(registry);
    UpdatePackage = package;
    InstallEnvironment = environment;
    SetMessageSettings(messages);
    AppDealings = dealings;
    return code;
}

}  // namespace SecondRun
