#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace standin {

inline constexpr const char* darkwake_path = "/var/run/sysctl.darkwake";

// A "name" or "name=value" argument of sysctl.
struct sysctl_request_t {
  std::string name;
  std::optional<std::string> value;
};

sysctl_request_t parse_sysctl_request(std::string_view argument);

// A decimal 32-bit integer, the whole text and nothing else.
std::optional<std::int32_t> parse_int32(std::string_view text);

// The kernel setting debug.darkwake, kept in a state file (0 before the first write). Both
// operations hold an exclusive lock on the file so that concurrent writers see each other's values.
std::optional<std::int32_t> read_darkwake();
// Stores value and answers the previous one.
std::optional<std::int32_t> exchange_darkwake(std::int32_t value);

}  // namespace standin
