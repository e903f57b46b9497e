#include "platform/foundation/main_bundle_path.h"

#include <limits.h>
#include <unistd.h>

namespace platform {

std::string main_bundle_path() {
  char executable[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof executable) return {};
  const std::string path(executable, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace platform
