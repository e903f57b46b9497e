// Stand-in for /sbin/reboot: the journal line is the whole effect. It never reboots anything.

#include "tools/journal/standin.h"

int main(int argc, char** argv) {
  return standin::run_standin("/sbin/reboot", {"usage: reboot\n"}, argc, argv,
                              [](const std::vector<std::string>&) { return 0; });
}
