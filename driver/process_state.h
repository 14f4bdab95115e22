// Everything the installer keeps for the life of its process, in one
// record: the start-up's values and the shared registry accessor, the
// install environment, the package, the quiet mode, the dealings with the
// application, the boxes' settings, the support log's record being made,
// the language files and the random generator. (The stage listener is not
// the run's: whoever watches the stages sets it. The progress window keeps
// its own, Progress::TWindowState: only the dormant version-compared
// replacement shows it, and a reference from here would link it into
// every installer; a run that never shows it has nothing there to trade.)
// A new record holds what a new process starts with.
//
// A run leaves its process so when it ends; and where two runs share one
// process (the simulated PC starts a second installer inside a call of the
// first), trading the whole record keeps them apart, as two processes are.
// A value kept for the process is added here, or the two runs share it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "driver/app_instance.h"
#include "driver/update_package.h"
#include "environment/install_environment.h"
#include "environment/registry.h"
#include "messages/lang_unit.h"
#include "messages/messages.h"
#include "messages/support_log.h"

struct TProcessState {
    bool russianUi = false;
    bool is64BitOs = false;
    std::string firstArgument, secondArgument;
    DWORD win32Platform = 0;
    std::string osDescriptionText;
    std::unique_ptr<TRegistry> sharedRegistry;  // none until the start-up has run
    TInstallEnvironment installEnvironment;
    TUpdatePackage updatePackage;
    bool quietMode = false;
    TAppDealings appDealings;
    TMessageSettings messageSettings;
    SupportLog::TRecord supportLog;
    LangUnit::TLangUnitState languageFiles;
    std::uint32_t randomSeed = 0;
};

// Trades the process's state for `other`'s.
void SwapProcessState(TProcessState& other);
