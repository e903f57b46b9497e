#include "platform/xpc/hardened_runtime.h"

#include <sys/prctl.h>

namespace platform {

bool enter_hardened_runtime() {
  return ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

}  // namespace platform
