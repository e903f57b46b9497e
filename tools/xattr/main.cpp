// Stand-in for /usr/bin/xattr. Linux files carry no quarantine attribute, so deleting one
// succeeds for every path that exists, as it does on a file that never had it.

#include <sys/stat.h>

#include <cstdio>

#include "tools/journal/standin.h"

namespace {

const platform::command_line::syntax_t syntax{
    "usage: xattr -d [-r] [-s] attr_name file [file ...]\n", {"-d", "-r", "-s"}};

int usage() {
  return platform::command_line::print_usage(syntax, stderr, 2);
}

int xattr(const std::vector<std::string>& arguments) {
  std::size_t next = 0;
  bool remove = false;
  for (; next < arguments.size() && arguments[next].starts_with('-'); ++next) {
    const auto& option = arguments[next];
    if (option == "-d") {
      remove = true;
    } else if (option != "-r" && option != "-s") {
      return usage();
    }
  }
  // The attribute name, then at least one file.
  if (!remove || arguments.size() < next + 2) return usage();
  int status = 0;
  for (std::size_t i = next + 1; i < arguments.size(); ++i) {
    struct stat info {};
    if (::lstat(arguments[i].c_str(), &info) != 0) {
      std::fprintf(stderr, "xattr: No such file: %s\n", arguments[i].c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/bin/xattr", syntax, argc, argv, xattr);
}
