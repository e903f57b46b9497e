// Stand-in for /usr/bin/hdiutil: there are no disk images here, so every detach succeeds.

#include <cstdio>

#include "tools/journal/standin.h"

namespace {

int hdiutil(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments[0] != "detach") {
    std::fprintf(stderr, "Usage: hdiutil detach <devname>\n");
    return 1;
  }
  std::printf("\"%s\" ejected.\n", arguments.back().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/bin/hdiutil", argc, argv, hdiutil);
}
