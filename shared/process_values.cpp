// The process-wide records and flags, defined in one place. Each is filled
// by the stage that owns it: the flags by the start-up, InstallEnvironment
// by the install-target discovery.
#include "shared/process_values.h"
#include "shared/install_environment.h"

bool RussianUi = false;
bool Is64BitOs = false;
std::string FirstArgument;
DWORD Win32Platform = 0;
std::string OsDescriptionText;
std::unique_ptr<TRegistry> SharedRegistry;

TInstallEnvironment InstallEnvironment;
