// Stand-in for the credentials dialog at /usr/libexec/authorization-agent: called with the right's
// name and description, it answers with the next line of the test's scenario.

#include <iostream>

#include "tools/authorization-agent/scenario.h"
#include "tools/journal/standin.h"

namespace {

constexpr std::string_view usage_text = "usage: authorization-agent <right-name> <description>\n";

int agent(const std::vector<std::string>& arguments) {
  if (arguments.size() != 2) {
    return platform::command_line::print_usage({usage_text}, stderr, 2);
  }
  // Nobody left to answer the dialog: it is dismissed.
  const std::optional<std::string> line =
      agent_scenario::take_first_line(agent_scenario::scenario_path);
  if (!line || *line == "cancel") return 1;
  const std::size_t space = line->find(' ');
  if (*line == "fail" || space == std::string::npos) return 2;
  std::cout << line->substr(0, space) << '\n' << line->substr(space + 1) << '\n' << std::flush;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/libexec/authorization-agent", {usage_text}, argc, argv, agent);
}
