// Stand-in for /usr/bin/dns-sd -B: lists the services configured for the test, then browses on
// until it is terminated, as the real browse never ends by itself.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "tools/dns-sd/browse.h"
#include "tools/journal/standin.h"

namespace {

constexpr std::string_view usage_text = "Usage: dns-sd -B <Type> [<Domain>]\n";

std::string configured_services() {
  std::ifstream file(standin::dns_sd_services_path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::timespec now() {
  std::timespec time{};
  ::clock_gettime(CLOCK_REALTIME, &time);
  return time;
}

// Termination ends the browse normally. The signals are taken back from an inherited "ignore"
// first, since an ignored signal is discarded and would never end the wait.
sigset_t block_termination() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ::signal(signal, SIG_DFL);
    sigaddset(&signals, signal);
  }
  ::sigprocmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

int browse(const std::string& type, const std::string& domain) {
  const auto termination = block_termination();
  std::string output = standin::browse_header(type, domain, now());
  const auto services = standin::services_of_type(configured_services(), type);
  for (std::size_t i = 0; i < services.size(); ++i) {
    output += standin::browse_result(services[i], domain, now(), i + 1 < services.size());
  }
  std::fwrite(output.data(), 1, output.size(), stdout);
  std::fflush(stdout);
  int signal = 0;
  ::sigwait(&termination, &signal);
  return 0;
}

int dns_sd(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2 || arguments.size() > 3 || arguments[0] != "-B") {
    return platform::command_line::print_usage({usage_text}, stderr, 1);
  }
  return browse(arguments[1], arguments.size() == 3 ? arguments[2] : "local");
}

}  // namespace

int main(int argc, char** argv) {
  return standin::run_standin("/usr/bin/dns-sd", {usage_text, {"-B"}}, argc, argv, dns_sd);
}
