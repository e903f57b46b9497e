// Stand-in for /usr/bin/security: only "authorizationdb remove RIGHT", on the authorization
// database the daemon reads.

#include <iostream>

#include "platform/authorization/rights_database.h"
#include "tools/journal/standin.h"

namespace {

namespace authorization = platform::authorization;

constexpr std::string_view usage_text = "usage: security authorizationdb remove <right-name>\n";

int security(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3 || arguments[0] != "authorizationdb" || arguments[1] != "remove") {
    return platform::command_line::print_usage({usage_text}, stderr, 2);
  }
  authorization::rights_database_t database(authorization::kAuthorizationDatabasePath);
  const platform::os_status_t status = database.remove(arguments[2]);
  if (status != platform::errAuthorizationSuccess) {
    std::cerr << "NO (" << status << ")\n";
    return 1;
  }
  std::cerr << "YES (0)\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/bin/security", {usage_text}, argc, argv, security);
}
