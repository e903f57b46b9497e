// velmora-test-answer-agent PASSWORD CMD ARGS...: runs CMD with pkttyagent registered for it on a
// pseudo-terminal, types PASSWORD at the agent's prompt as a person would, then shows what the
// agent's terminal showed. Exits with CMD's status. For the demo in the throwaway root, where a
// user's own agent cannot check a password (no_new_privs), so this one runs as root.
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "platform/base/command_line.h"
#include "tests/platform/authorization/tty_agent.h"

int main(int argc, char** argv) {
  const platform::command_line::syntax_t syntax{
      "usage: velmora-test-answer-agent PASSWORD CMD ARGS...\n"};
  if (const auto status = platform::command_line::check(argc, argv, syntax)) return *status;
  if (argc < 3) {
    return platform::command_line::print_usage(syntax, stderr, platform::command_line::exit_usage);
  }
  // CMD waits at the gate until the agent is registered for its pid; the exec keeps the pid.
  std::array<int, 2> gate{};
  if (::pipe(gate.data()) != 0) return 71;
  const pid_t command = ::fork();
  if (command == 0) {
    ::close(gate[1]);
    char byte = 0;
    if (::read(gate[0], &byte, 1) != 1) ::_exit(125);
    ::close(gate[0]);
    ::execvp(argv[2], argv + 2);
    ::_exit(127);
  }
  ::close(gate[0]);
  int status = 0;
  {
    tty_agent::agent_t agent(command);
    const bool registered = agent.wait_registered();
    const char go = 'g';
    if (::write(gate[1], &go, 1) != 1) return 71;
    ::close(gate[1]);
    if (!registered || !agent.type_password(argv[1])) {
      std::fprintf(stderr, "velmora-test-answer-agent: no password prompt came\n");
    }
    ::waitpid(command, &status, 0);
    agent.wait_for("AUTHENTICATION", std::chrono::seconds(2));
    std::printf("-- what the agent's terminal showed --\n%s\n", agent.screen().c_str());
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
