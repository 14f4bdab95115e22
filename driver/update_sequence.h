// The whole run of the installer, once, forward only.
#pragma once

// How the run ended; the process exit code tells a calling program.
enum class UpdateOutcome : int {
    Installed = 0,        // the data file was installed
    UnexpectedError = 1,  // an error nobody catches ended the run
    NotInstalled = 2,     // stopped before installing: discovery, rights, self-check, no application
    Declined = 3,         // the user said No to the confirmation
    WriteFailed = 4,      // the data file could not be written
};

// "modest": no questions. Decided and read by the update sequence alone.
extern bool QuietMode;

// Set when the self-check has found the installer's own file changed. The
// change may then lie anywhere, the exit path included, so the program
// entry ends the process right after the record instead of returning.
extern bool InstallerFoundAltered;

// Fills the package constants that the program entry does not.
void FillPackageConstants();

// Gives the boxes what they take from the run as it stands: the start-up's
// language, the package's captions and the application's folder.
void GiveMessageSettings();

UpdateOutcome RunUpdateSequence();
