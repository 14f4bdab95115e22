// For the size experiment only: libstdc++'s default terminate handler
// prints the type of an uncaught exception and pulls in the C++ demangler
// (cp-demangle.o) to do so. A program that catches everything at its entry
// never needs it; defining the handler here keeps the archive member, and
// the demangler with it, out of the link.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
