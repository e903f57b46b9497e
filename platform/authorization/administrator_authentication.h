#pragma once

#include <string>

#include "platform/base/os_status.h"

namespace platform::authorization {

// Asks for an administrator's authentication for the right, showing its description: through
// polkit for the client process whose request the calling thread handles, or, where the
// credentials-dialog stand-in is installed (the throwaway root's tests), through the stand-in.
// Every failure is one error line in the trace (handle "authorization").
os_status_t authenticate_administrator(const std::string& right, const std::string& description);

}  // namespace platform::authorization
