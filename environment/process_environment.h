// The start-up of the run: fixes the process-wide facts (environment/process_values.h)
// once, before the update sequence, and releases them at exit.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "environment/process_values.h"
#include "osinfo/os_description.h"
#include "platform/win32.h"

// Runs once before the update sequence, with the command line's words as
// the program entry split them (the program's own name first); a repeated
// call does nothing until ReleaseProcessEnvironment has ended that life.
void InitProcessEnvironment(const std::vector<std::string>& commandLine);
void ReleaseProcessEnvironment();

bool IsRussianLocale(LCID locale);

// The OS description's reads, each through a TRegistry of its own, made
// with the access it asks for and closed when the read ends.
class TMachineRegistryReader final : public TMachineRegistry {
public:
    bool KeyOpens(const std::string& path, REGSAM access) override;
    std::optional<std::string> ReadText(const std::string& path, const std::string& name, REGSAM access) override;
    bool ReadBytes(const std::string& path, const std::string& name, REGSAM access, DWORD limit, DWORD& type,
                   std::string& bytes) override;
};
