#pragma once

namespace platform {

// What the platform's hardened runtime gives a client of a privileged service: other processes
// of the same user can no longer trace it or write its memory. The service refuses a client
// that has not done this. False when the kernel refused.
bool enter_hardened_runtime();

}  // namespace platform
