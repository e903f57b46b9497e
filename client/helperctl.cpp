// velmora-helperctl [--socket PATH] COMMAND [ARGS]: one request to the helper.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "client/client_authorization.h"
#include "client/helperctl_commands.h"
#include "client/velmora_client.h"
#include "platform/authorization/terminal_agent.h"

namespace {

constexpr int exit_no = 1;
constexpr int exit_unavailable = 2;
constexpr int exit_usage = 64;

void print_usage(const helperctl::command_t& command, std::FILE* out) {
  std::fprintf(out, "usage: velmora-helperctl [--socket PATH] %.*s",
               static_cast<int>(command.name.size()), command.name.data());
  for (const auto parameter : command.parameters) {
    std::fprintf(out, " %.*s", static_cast<int>(parameter.size()), parameter.data());
  }
  std::fprintf(out, "\n  %.*s%s\n", static_cast<int>(command.summary.size()),
               command.summary.data(),
               command.privileged ? " (asks for an administrator's authorization)" : "");
}

void print_help(std::FILE* out) {
  std::fprintf(out,
               "usage: velmora-helperctl [--socket PATH] COMMAND [ARGS]\n"
               "       velmora-helperctl COMMAND --help\n\n"
               "Boolean answers print YES or NO and exit 0 or 1; texts and numbers print the\n"
               "value and exit 0. Exit 2: the helper could not be reached or refused the\n"
               "client. Exit 64: wrong usage.\n\ncommands:\n");
  for (const auto& command : helperctl::commands()) {
    std::string line(command.name);
    for (const auto parameter : command.parameters)
      line += " " + std::string(parameter);
    std::fprintf(out, "  %-40s %.*s\n", line.c_str(), static_cast<int>(command.summary.size()),
                 command.summary.data());
  }
}

struct options_t {
  std::string socket_path = velmora_client_t::default_socket_path();
  std::vector<std::string> words;  // the command and its arguments
  bool help = false;
};

bool parse_options(int argc, char** argv, options_t& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--help" || word == "-h") {
      options.help = true;
    } else if (word == "--socket" && options.words.empty()) {
      if (++i == argc) return false;
      options.socket_path = argv[i];
    } else {
      options.words.emplace_back(word);
    }
  }
  return true;
}

bool arguments_fit(const helperctl::command_t& command, const std::vector<std::string>& args) {
  if (args.size() != command.parameters.size()) return false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!helperctl::argument_fits(command.parameters[i], args[i])) return false;
  }
  return true;
}

int report(const helperctl::answer_t& answer) {
  if (!answer) {
    std::fprintf(stderr, "velmora-helperctl: the helper ended the connection without an answer\n");
    return exit_unavailable;
  }
  if (const bool* flag = std::get_if<bool>(&*answer)) {
    std::puts(*flag ? "YES" : "NO");
    return *flag ? 0 : exit_no;
  }
  if (const auto* text = std::get_if<std::string>(&*answer)) {
    std::puts(text->c_str());
  } else {
    std::printf("%d\n", std::get<std::int32_t>(*answer));
  }
  return 0;
}

std::optional<velmora_client_t> connect(const std::string& socket_path) {
  velmora_client_t::connect_status_t status{};
  auto client = velmora_client_t::connect(socket_path, &status);
  if (status == velmora_client_t::connect_status_t::unreachable) {
    std::fprintf(stderr, "velmora-helperctl: cannot connect to the helper at %s\n",
                 socket_path.c_str());
  } else if (status == velmora_client_t::connect_status_t::refused) {
    std::fprintf(stderr, "velmora-helperctl: the helper at %s refused this client\n",
                 socket_path.c_str());
  }
  return client;
}

int send(const helperctl::command_t& command, const helperctl::invocation_t& invocation,
         const options_t& options) {
  auto client = connect(options.socket_path);
  if (!client) return exit_unavailable;
  return report(command.run(*client, invocation));
}

// A privileged request carries a new authorization; on a terminal with no agent of the user's
// session, pkttyagent asks for the password here for as long as the request runs.
int run(const helperctl::command_t& command, const options_t& options) {
  helperctl::invocation_t invocation;
  invocation.args.assign(options.words.begin() + 1, options.words.end());
  if (!command.privileged) return send(command, invocation, options);
  std::string error;
  const auto authorization = client_authorization_t::create(&error);
  if (!authorization) {
    std::fprintf(stderr, "velmora-helperctl: cannot create the authorization: %s\n", error.c_str());
    return exit_unavailable;
  }
  invocation.auth = authorization->external_form();
  error.clear();
  const auto agent = platform::authorization::terminal_agent_t::start_if_on_terminal(&error);
  if (!error.empty()) std::fprintf(stderr, "velmora-helperctl: %s\n", error.c_str());
  return send(command, invocation, options);
}

}  // namespace

int main(int argc, char** argv) {
  options_t options;
  if (!parse_options(argc, argv, options)) {
    print_help(stderr);
    return exit_usage;
  }
  if (options.words.empty()) {
    print_help(options.help ? stdout : stderr);
    return options.help ? 0 : exit_usage;
  }
  const helperctl::command_t* command = helperctl::find_command(options.words[0]);
  if (command == nullptr) {
    std::fprintf(stderr, "velmora-helperctl: unknown command %s\n", options.words[0].c_str());
    print_help(stderr);
    return exit_usage;
  }
  if (options.help) {
    print_usage(*command, stdout);
    return 0;
  }
  if (!arguments_fit(*command, {options.words.begin() + 1, options.words.end()})) {
    print_usage(*command, stderr);
    return exit_usage;
  }
  return run(*command, options);
}
