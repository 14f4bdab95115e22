#include "driver/process_state.h"

#include <utility>

#include "driver/update_sequence.h"
#include "environment/process_values.h"
#include "runtime/random.h"

void SwapProcessState(TProcessState& other) {
    std::swap(RussianUi, other.russianUi);
    std::swap(Is64BitOs, other.is64BitOs);
    std::swap(FirstArgument, other.firstArgument);
    std::swap(SecondArgument, other.secondArgument);
    std::swap(Win32Platform, other.win32Platform);
    std::swap(OsDescriptionText, other.osDescriptionText);
    std::swap(SharedRegistry, other.sharedRegistry);
    std::swap(InstallEnvironment, other.installEnvironment);
    std::swap(UpdatePackage, other.updatePackage);
    std::swap(QuietMode, other.quietMode);
    std::swap(AppDealings, other.appDealings);
    TMessageSettings settings = MessageSettings();
    SetMessageSettings(std::exchange(other.messageSettings, settings));
    SupportLog::SwapRecord(other.supportLog);
    LangUnit::SwapLangUnitState(other.languageFiles);
    const std::uint32_t seed = RandomSeed();
    SeedRandom(std::exchange(other.randomSeed, seed));
}
