// VELDAR::version(): the version this library was built as, compiled here so
// that a program reads it from the library it loaded, not from its headers.
#include <veldar/version.h>

namespace VELDAR {

const char* version() noexcept { return VELDAR_VERSION_STRING; }

}  // namespace VELDAR
