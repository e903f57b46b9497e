#pragma once

#include <string>
#include <vector>

// What the running process knows about itself.
namespace platform::process_info {

// The process's argument vector as it was started (argv[0] first); empty when it cannot be read.
std::vector<std::string> arguments();

}  // namespace platform::process_info
