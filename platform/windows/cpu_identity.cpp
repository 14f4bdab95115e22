// The processor's answers to CPUID, for the choice of the hash.
#include <cpuid.h>

#include "platform/sha256_extensions.h"

CpuIdentity ReadCpuIdentity() {
    CpuIdentity cpu;
    unsigned a = 0, b = 0, c = 0, d = 0;
    // False only on processors without CPUID at all (before the late 486s).
    if (!__get_cpuid(0, &a, &b, &c, &d)) return cpu;
    cpu.maxLeaf = a;
    if (__get_cpuid(1, &a, &b, &c, &d)) cpu.leaf1Ecx = c;
    if (cpu.maxLeaf >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d)) cpu.leaf7Ebx = b;
    return cpu;
}
