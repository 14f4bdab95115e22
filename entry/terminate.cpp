// libstdc++'s default terminate handler names the type of an uncaught
// exception and pulls the whole C++ demangler into the executable to do so.
// RunInstaller catches everything, so no exception reaches terminate: a
// plain abort keeps about 45 KB of demangler out of the file.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
