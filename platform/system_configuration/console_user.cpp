#include "platform/system_configuration/console_user.h"

#include <systemd/sd-login.h>

#include "platform/foundation/home_directory.h"

namespace platform {

std::optional<std::string> SCDynamicStoreCopyConsoleUser() {
  uid_t uid = 0;
  if (::sd_seat_get_active("seat0", nullptr, &uid) < 0) return std::nullopt;
  return user_name_for_uid(uid);
}

}  // namespace platform
