// Stand-in for /bin/launchctl, with a small state store in place of launchd.

#include <cstdio>

#include "tools/journal/standin.h"
#include "tools/launchctl/launchctl.h"

int main(int argc, char** argv) {
  return standin::run_standin(
      "/bin/launchctl", {standin::launchctl::usage_text}, argc, argv,
      [](const std::vector<std::string>& arguments) {
        const auto store = standin::job_store_t::open(standin::job_store_t::default_directory);
        if (!store) {
          std::fprintf(stderr, "launchctl: cannot open %s\n",
                       standin::job_store_t::default_directory);
          return 1;
        }
        return standin::launchctl::run(*store, arguments);
      });
}
