// Covers: platform/win32.h, host half. CPUID on the simulated PC: the machine's answers, not the host's. Not a
// call of the system, so it is not logged and cannot be made to fail.
#include "tests/sim/machine.h"

CpuIdentity ReadCpuIdentity() { return Sim::pc().cpu; }
