// Stand-in for /usr/sbin/sysctl: knows the one setting the helper changes, debug.darkwake.

#include <cstdio>

#include "tools/journal/standin.h"
#include "tools/sysctl/darkwake.h"

namespace {

constexpr const char* darkwake_name = "debug.darkwake";
constexpr std::string_view usage_text = "usage: sysctl [-n] name[=value]\n";

int show(const standin::sysctl_request_t& request, bool value_only) {
  const auto value = standin::read_darkwake();
  if (!value) {
    std::fprintf(stderr, "sysctl: %s: cannot read the setting\n", request.name.c_str());
    return 1;
  }
  if (value_only) {
    std::printf("%d\n", *value);
  } else {
    std::printf("%s: %d\n", request.name.c_str(), *value);
  }
  return 0;
}

int change(const standin::sysctl_request_t& request) {
  const auto value = standin::parse_int32(*request.value);
  if (!value) {
    std::fprintf(stderr, "sysctl: %s=%s: Invalid argument\n", request.name.c_str(),
                 request.value->c_str());
    return 1;
  }
  const auto old = standin::exchange_darkwake(*value);
  if (!old) {
    std::fprintf(stderr, "sysctl: %s: cannot write the setting\n", request.name.c_str());
    return 1;
  }
  std::printf("%s: %d -> %d\n", request.name.c_str(), *old, *value);
  return 0;
}

int sysctl(const std::vector<std::string>& arguments) {
  std::size_t first = 0;
  const bool value_only = !arguments.empty() && arguments[0] == "-n";
  if (value_only) ++first;
  if (arguments.size() != first + 1) {
    return platform::command_line::print_usage({usage_text}, stderr, 1);
  }
  const auto request = standin::parse_sysctl_request(arguments[first]);
  if (request.name != darkwake_name) {
    std::fprintf(stderr, "sysctl: unknown oid '%s'\n", request.name.c_str());
    return 1;
  }
  return request.value ? change(request) : show(request, value_only);
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/sbin/sysctl", {usage_text, {"-n"}}, argc, argv, sysctl);
}
