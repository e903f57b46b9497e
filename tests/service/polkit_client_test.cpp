// The command-line client, the helper daemon and polkitd together: the client registers the
// rights the database lacks, the daemon asks polkit on behalf of the client's process, and the
// dialog shows the right's own text. The throwaway root runs the system bus and polkitd.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/authorization/authorization.h"
#include "platform/authorization/rights_database.h"
#include "tests/platform/authorization/tty_agent.h"
#include "tests/sandbox/support.h"
#include "tests/service/daemon_process.h"
#include "tests/support/sandbox_session.h"

namespace authorization = platform::authorization;

namespace {

using sandbox_session::kAlice;
constexpr const char* kSettingsRight = "com.corvantix.Velmora.Helper.global_settings";
constexpr const char* kSettingsText = "Velmora is trying to unlock the global settings";

// Becomes the user and runs the signed client with the arguments.
[[noreturn]] void exec_client_as(uid_t user, const char* command) {
  if (::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(126);
  ::execl(signed_client_path, signed_client_path, command, static_cast<char*>(nullptr));
  ::_exit(127);
}

// The signed client as the user, held before its exec until release(), so that an agent can be
// registered for its pid first (the exec keeps the pid and the start time polkit checks).
class gated_client_t {
 public:
  gated_client_t(uid_t user, const char* command) {
    std::array<int, 2> gate{};
    std::array<int, 2> output{};
    if (::pipe(gate.data()) != 0 || ::pipe(output.data()) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(gate[1]);
      ::close(output[0]);
      ::dup2(output[1], STDOUT_FILENO);
      ::dup2(output[1], STDERR_FILENO);
      char byte = 0;
      if (::read(gate[0], &byte, 1) != 1) ::_exit(125);
      ::close(gate[0]);
      ::close(output[1]);
      exec_client_as(user, command);
    }
    ::close(gate[0]);
    ::close(output[1]);
    gate_ = gate[1];
    output_ = output[0];
  }
  gated_client_t(const gated_client_t&) = delete;
  gated_client_t& operator=(const gated_client_t&) = delete;
  ~gated_client_t() {
    if (gate_ >= 0) ::close(gate_);
    if (output_ >= 0) ::close(output_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }
  void release() {
    const char go = 'g';
    EXPECT_EQ(::write(gate_, &go, 1), 1);
  }
  // The client's exit status and what it printed.
  std::pair<int, std::string> finish() {
    std::string text;
    std::array<char, 512> chunk{};
    for (ssize_t got; (got = ::read(output_, chunk.data(), chunk.size())) > 0;) {
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
  }

 private:
  pid_t pid_ = -1;
  int gate_ = -1;
  int output_ = -1;
};

class PolkitClientTest : public ::testing::Test {
 protected:
  // A new daemon for each case; the socket an earlier one left is removed first, so that the
  // wait sees this daemon's.
  void SetUp() override {
    std::filesystem::remove(authorization::kAuthorizationDatabasePath);
    std::filesystem::remove(sandbox::helper_socket_path);
    daemon_.emplace(daemon_options_t{});
    ASSERT_TRUE(
        sandbox::eventually([] { return ::access(sandbox::helper_socket_path, F_OK) == 0; }));
  }

  static std::string rule_of(const std::string& right) {
    authorization::right_definition_t definition;
    authorization::AuthorizationRightGet(right, &definition);
    return definition.rule;
  }

  std::optional<daemon_process_t> daemon_;
};

TEST_F(PolkitClientTest, TheClientRegistersTheRightsAndTheDialogShowsTheRightsText) {
  gated_client_t client(kAlice, "check-global-settings");
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  client.release();
  ASSERT_TRUE(agent.type_password("alice-secret")) << agent.screen();
  const auto [status, output] = client.finish();
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "YES\n");
  EXPECT_NE(agent.screen().find(std::string("AUTHENTICATING FOR ") + kSettingsRight),
            std::string::npos);
  EXPECT_NE(agent.screen().find(kSettingsText), std::string::npos);
  EXPECT_EQ(rule_of(kSettingsRight), "authenticate-admin");
  EXPECT_EQ(rule_of("com.corvantix.Velmora.Helper.install_velmora"), "is-admin");
}

TEST_F(PolkitClientTest, AWrongPasswordIsRefused) {
  gated_client_t client(kAlice, "check-global-settings");
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  client.release();
  ASSERT_TRUE(agent.type_password("guess")) << agent.screen();
  const auto [status, output] = client.finish();
  EXPECT_EQ(status, 1) << output;
  EXPECT_EQ(output, "NO\n");
}

// On a terminal the client starts pkttyagent for itself: the dialog comes up on the client's own
// terminal. (Inside the throwaway root a user's agent cannot check a password: no_new_privs
// keeps its set-uid helper powerless, so the test ends where the agent takes the request.)
TEST_F(PolkitClientTest, AClientOnATerminalBringsItsOwnAgent) {
  int terminal = -1;
  const pid_t client = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (client == 0) exec_client_as(kAlice, "check-global-settings");
  ASSERT_GT(client, 0);
  ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  std::string screen;
  sandbox::eventually([&] {
    std::array<char, 512> chunk{};
    const ssize_t got = ::read(terminal, chunk.data(), chunk.size());
    if (got > 0) screen.append(chunk.data(), static_cast<std::size_t>(got));
    const bool ended = got == 0 || (got < 0 && errno != EAGAIN);
    return screen.find("Authenticating as: ") != std::string::npos || ended;
  });
  const bool prompted = screen.find("Authenticating as: Alice (alice)") != std::string::npos;
  ::kill(client, SIGKILL);
  ::waitpid(client, nullptr, 0);
  ::close(terminal);
  ASSERT_TRUE(prompted) << screen;
  EXPECT_NE(screen.find(std::string("AUTHENTICATING FOR ") + kSettingsRight), std::string::npos)
      << screen;
  EXPECT_NE(screen.find(kSettingsText), std::string::npos) << screen;
}

}  // namespace
