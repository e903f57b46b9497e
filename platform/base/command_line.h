#pragma once

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

// What every program here does with its command line before its own work: "--help" prints the
// usage on standard output and succeeds; an option the program does not take is refused with the
// usage on standard error and EX_USAGE, so that a mistyped option never becomes an operand.
namespace platform::command_line {

inline constexpr int exit_usage = 64;  // EX_USAGE

struct syntax_t {
  std::string_view usage;  // printed as it is: whole lines
  // The options the program takes, "--help" aside. Options come before the operands, up to "--";
  // an option that takes a value is followed by it.
  std::vector<std::string_view> flags = {};
  std::vector<std::string_view> valued = {};
};

inline int print_usage(const syntax_t& syntax, std::FILE* out, int status) {
  std::fwrite(syntax.usage.data(), 1, syntax.usage.size(), out);
  return status;
}

// The exit status when the program must stop here; nothing when it goes on.
inline std::optional<int> check(int argc, char* const* argv, const syntax_t& syntax) {
  const auto takes = [](const std::vector<std::string_view>& options, std::string_view option) {
    return std::find(options.begin(), options.end(), option) != options.end();
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--" || argument == "-" || !argument.starts_with('-')) break;
    if (argument == "--help") return print_usage(syntax, stdout, 0);
    if (takes(syntax.valued, argument)) {
      ++i;
    } else if (!takes(syntax.flags, argument)) {
      std::fprintf(stderr, "%s: unknown option %s\n", argv[0], argv[i]);
      return print_usage(syntax, stderr, exit_usage);
    }
  }
  return std::nullopt;
}

}  // namespace platform::command_line
