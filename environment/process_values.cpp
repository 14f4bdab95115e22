// The installation environment's process-wide records and flags. Each is
// filled by the stage that owns it: the flags by the start-up,
// InstallEnvironment by the install-target discovery.
#include "environment/process_values.h"
#include "environment/install_environment.h"

bool RussianUi = false;
bool Is64BitOs = false;
std::string FirstArgument;
std::string SecondArgument;
DWORD Win32Platform = 0;
std::string OsDescriptionText;
std::unique_ptr<TRegistry> SharedRegistry;

TInstallEnvironment InstallEnvironment;
