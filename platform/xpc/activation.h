#pragma once

#include <string>

#include "platform/base/unique_fd.h"

namespace platform {

// The listening socket of a service: the one the service manager passed in (LISTEN_PID is this
// process, LISTEN_FDS is 1, descriptor 3) or else a new one bound at socket_path (a stale socket
// file there is removed first), mode 0666. Empty on failure, with the reason in *error.
unique_fd_t listening_socket(const std::string& socket_path, std::string* error);

}  // namespace platform
