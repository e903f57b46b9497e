#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "client/velmora_client.h"

// The commands of velmora-helperctl, one per operation of the helper.
namespace helperctl {

// What a command got back: a boolean, a text or an integer; nothing when the connection ended.
using answer_t = std::optional<std::variant<bool, std::string, std::int32_t>>;

struct invocation_t {
  std::vector<std::string> args;  // exactly as many as the command's parameters
  velmora_client_t::auth_t auth;  // filled for privileged commands
};

struct command_t {
  std::string_view name;
  std::vector<std::string_view> parameters;
  std::string_view summary;
  bool privileged;
  std::function<answer_t(velmora_client_t&, const invocation_t&)> run;
};

std::span<const command_t> commands();
const command_t* find_command(std::string_view name);

// Whether a value suits a parameter ("on|off" and "N" take only those; the rest any text).
// The commands rely on it having been checked.
bool argument_fits(std::string_view parameter, std::string_view value);

// Parses "on"/"off"; nothing for anything else.
std::optional<bool> on_off(std::string_view text);
// Parses a whole decimal signed 32-bit number; nothing for anything else.
std::optional<std::int32_t> number(std::string_view text);

}  // namespace helperctl
