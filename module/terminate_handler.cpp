// libstdc++'s default handler for an exception nobody catches prints the
// exception's type by demangling its name, which links in a demangler larger
// than the rest of this library. No exception leaves an export or the entry
// routine; one that escaped anyway is a bug that ends the process either way.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
