// Stand-in for /usr/bin/hdiutil: there are no disk images here, so every detach succeeds.

#include <cstdio>

#include "tools/journal/standin.h"

namespace {

constexpr std::string_view usage_text = "Usage: hdiutil detach <devname>\n";

int hdiutil(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments[0] != "detach") {
    return platform::command_line::print_usage({usage_text}, stderr, 1);
  }
  std::printf("\"%s\" ejected.\n", arguments.back().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/bin/hdiutil", {usage_text}, argc, argv, hdiutil);
}
