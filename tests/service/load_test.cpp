// The daemon under load: many signed clients at once, each with its own stream of requests. Every
// reply reaches the client that asked, once and right; what the clients took (descriptors,
// threads) is given back once they have gone; and the trace stays whole across a trim.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <latch>
#include <sstream>
#include <thread>

#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/support/files.h"
#include "tests/support/trace_lines.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* system_trace = "/var/log/velmora.trace";
constexpr const char* socket_path = "/tmp/load-helper.socket";

constexpr int clients = 100;
constexpr int requests_per_client = 50;

// Well-formed lines of another process, enough to bring the trace file close to its limit.
std::string lines_of_another_writer(std::size_t size) {
  std::string text;
  char line[256];
  for (int n = 0; text.size() < size; ++n) {
    std::snprintf(line, sizeof(line), "%7s %s %10s %6s %6u %6llu %4s %32s - earlier line %d\n",
                  "info", "2026-12-08 09:57:44.123", "helper", "", 7u, 7ull, "", "helper_tool", n);
    text += line;
  }
  return text;
}

// The namespaces of half of the clients have an installed service list.
std::string namespace_of(int client) {
  return "load_" + std::to_string(client);
}
bool installed(int client) {
  return client % 2 == 0;
}

struct tally_t {
  std::atomic<int> connected{0};
  std::atomic<int> lost{0};
  std::atomic<int> wrong{0};
  std::atomic<int> repeated{0};
};

// One client: connects, waits until every other one is connected too, then asks its share of
// requests, each with an answer only this client expects.
void run_client(int index, std::latch& all_connected, tally_t& tally) {
  auto client = signed_client_t::connect(socket_path);
  all_connected.arrive_and_wait();
  if (!client) return;
  ++tally.connected;
  const std::vector<std::uint8_t> short_auth(static_cast<std::size_t>(index % 31));
  for (int request = 0; request < requests_per_client; ++request) {
    std::optional<bool> answer;
    bool expected = false;
    switch (request % 3) {
      case 0: {
        const auto version = client->get_version();
        if (!version) ++tally.lost;
        if (version && *version != "2.7") ++tally.wrong;
        continue;
      }
      case 1:
        answer = client->is_service_installed(namespace_of(index));
        expected = installed(index);
        break;
      default:  // refused with a trace line
        answer = client->check_global_settings_auth(short_auth);
        break;
    }
    if (!answer) ++tally.lost;
    if (answer && *answer != expected) ++tally.wrong;
  }
  // A reply sent twice would be waiting now.
  pollfd entry{client->socket(), POLLIN, 0};
  if (::poll(&entry, 1, 200) != 0) ++tally.repeated;
}

TEST(Load, HundredClientsEachGetTheirOwnRepliesAndLeaveNothingBehind) {
  for (int index = 0; index < clients; index += 2) {
    ASSERT_TRUE(test_support::write_text(
        "/Library/LaunchDaemons/com.corvantix." + namespace_of(index) + ".service.plist", ""));
  }
  // The load's own lines take the file over its limit.
  const std::string earlier = lines_of_another_writer(1048576 - 120 * 1024);
  ASSERT_TRUE(test_support::write_text(system_trace, earlier, 0644));

  platform::unique_fd_t listening = listening_socket_at(socket_path);
  ASSERT_TRUE(listening);
  daemon_options_t options;
  options.activated_socket = listening.get();
  daemon_process_t daemon(options);
  // Only the daemon holds the socket now: should it die, clients are refused at once instead of
  // waiting in the backlog for an acceptance that never comes.
  listening.reset();
  // Keeps the daemon from its idle exit while the load comes and goes.
  auto anchor = signed_client_t::connect(socket_path);
  ASSERT_TRUE(anchor);
  ASSERT_EQ(anchor->get_version(), "2.7");
  const process_usage_t baseline = settled_usage(daemon.pid());

  tally_t tally;
  std::latch all_connected(clients);
  std::vector<std::thread> threads;
  threads.reserve(clients);
  for (int index = 0; index < clients; ++index)
    threads.emplace_back(run_client, index, std::ref(all_connected), std::ref(tally));
  for (auto& thread : threads)
    thread.join();

  EXPECT_EQ(tally.connected, clients);
  EXPECT_EQ(tally.lost, 0);
  EXPECT_EQ(tally.wrong, 0);
  EXPECT_EQ(tally.repeated, 0);
  EXPECT_TRUE(has_line(trace_lines_of(system_trace, daemon.pid()),
                       "helper_tool - " + std::to_string(clients + 1) + " active connections"))
      << "the clients were not all connected at once";

  EXPECT_EQ(usage_back_to(daemon.pid(), baseline), baseline);
  EXPECT_EQ(anchor->get_version(), "2.7");

  const std::string trace = test_support::read_text(system_trace);
  EXPECT_LT(trace.size(), 1048576u);
  EXPECT_EQ(trace.find("earlier line 0\n"), std::string::npos) << "the file was never trimmed";
  std::istringstream lines(trace);
  int malformed = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;  // a trimmed file begins with a line feed
    if (!test_support::parse_trace_line(line) && ++malformed <= 3) ADD_FAILURE() << line;
  }
  EXPECT_EQ(malformed, 0);
}

}  // namespace
