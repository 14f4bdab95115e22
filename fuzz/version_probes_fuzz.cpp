// Every version probe on an arbitrary file: the fixed-offset fields, the
// language-file version line, and the version resource of a would-be
// executable (the shell's type test and the version calls read its bytes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "install/version_probes.h"
#include "tests/sim/machine.h"

namespace {
// The simulation reads only 32-bit version resources; an input that leads
// it elsewhere says nothing about the installer, so it is not pursued.
bool unmodelled = false;
void NoteUnmodelled(const std::string&) { unmodelled = true; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sim::SetUnmodelledHandler(NoteUnmodelled);
    unmodelled = false;
    Sim::Reset();
    const std::vector<std::uint8_t> bytes(data, data + size);
    for (const char* name : {"C:\\App\\f.pak", "C:\\App\\f.lng", "C:\\App\\f.exe"})
        Sim::pc().files.AddFile(name, bytes);
    const std::int32_t pak = ProbePakVersion("C:\\App\\f.pak");
    const std::int32_t cok = ProbeCokVersion("C:\\App\\f.pak");
    const std::int32_t bs3 = Probe3bsVersion("C:\\App\\f.pak");
    if (pak < 0 || pak > 0xFFFF || cok < 0 || cok > 0xFFFF || bs3 < 0 || bs3 > 0xFF) __builtin_trap();
    ProbeLngVersion("C:\\App\\f.lng");
    const std::string version = FileVersionString("C:\\App\\f.exe");
    if (unmodelled) return -1;  // keep it out of the corpus
    if (version.size() > size) __builtin_trap();
    if (!Sim::pc().handles.empty()) __builtin_trap();
    return 0;
}
