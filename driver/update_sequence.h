// The whole run of the installer, once, forward only.
#pragma once

// How the run ended; the process exit code tells a calling program.
enum class UpdateOutcome : int {
    // One cause a code: deployment engines decide from it alone whether to
    // retry, to report or to give up, so no two causes share one.
    Installed = 0,            // the data file was installed
    UnexpectedError = 1,      // an error nobody catches ended the run
    NotInstalled = 2,         // Lexomir.exe is not in the application's folder
    Declined = 3,             // the user said No to the confirmation, or nobody could answer
    WriteFailed = 4,          // the data file could not be written; the old one is as it was
    NoAdminRights = 5,        // the installer does not run as an administrator
    RegistryUnreadable = 6,   // the user's shell folders could not be read
    InstallerAltered = 7,     // the installer's own file has been changed
    InstallerUnreadable = 8,  // the installer's own file could not be read
    AnotherRunAtWork = 1618,  // another run on this installation still at work after a minute
    RestartToFinish = 3010,   // staged: Windows puts the data file in place when it restarts
};

// "modest": no questions. Decided and read by the update sequence alone.
extern bool QuietMode;

// Fills the package constants that the program entry does not.
void FillPackageConstants();

// Gives the boxes what they take from the run as it stands: the start-up's
// language, the package's captions and the application's folder.
void GiveMessageSettings();

UpdateOutcome RunUpdateSequence();
