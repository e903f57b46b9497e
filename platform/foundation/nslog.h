#pragma once

namespace platform {

// One line on standard error, prefixed with the program's name and pid.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
