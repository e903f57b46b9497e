// The authority asking polkitd for an administrator's authentication, answered through pkttyagent
// on a pseudo-terminal: the throwaway root runs a system bus and polkitd with the shipped policy.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "platform/authorization/authorization.h"
#include "platform/authorization/rights_database.h"
#include "platform/base/request_sender.h"
#include "tests/platform/authorization/cancelling_agent.h"
#include "tests/platform/authorization/tty_agent.h"
#include "tests/sandbox/support.h"
#include "tests/support/sandbox_session.h"
#include "tests/support/trace_lines.h"
#include "trace/trace.h"

namespace authorization = platform::authorization;
using namespace sandbox_session;

namespace {

constexpr authorization::AuthorizationFlags kInteractive =
    authorization::kAuthorizationFlagInteractionAllowed |
    authorization::kAuthorizationFlagExtendRights;
constexpr const char* kSettingsRight = "com.corvantix.Velmora.Helper.global_settings";
constexpr const char* kSettingsText = "Velmora is trying to unlock the global settings";
constexpr const char* kInstallRight = "com.corvantix.Velmora.Helper.install_velmora";
constexpr const char* kInstallText = "Velmora is trying to install itself";
constexpr const char* kTracePath = "/var/log/polkit-authority-test.trace";
constexpr const char* kPolkitServices = "tests/sandbox/polkit-services";

class PolkitAuthorityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_root();
    std::filesystem::remove(kTracePath);
    trace_use_path(string_t(kTracePath));
    define(kSettingsRight, "authenticate-admin", kSettingsText);
    define(kInstallRight, "is-admin", kInstallText);
  }

  static void define(const std::string& right, const std::string& rule, const std::string& text) {
    ASSERT_EQ(authorization::rights_database_t(authorization::kAuthorizationDatabasePath)
                  .set(right, {rule, text}),
              platform::errAuthorizationSuccess);
  }

  // The request of the subject's process for the right, made on another thread the way the
  // connection's queue makes it, while the test answers the agent.
  static std::future<platform::os_status_t> request(const authorization::authorization_ref_t& ref,
                                                    const tty_agent::subject_process_t& subject,
                                                    const std::string& right) {
    return std::async(std::launch::async, [&ref, &subject, right] {
      const platform::request_sender_scope_t sender({subject.pid(), subject.user(), -1});
      return authorization::AuthorizationCopyRights(ref, {{right, {}, 0}}, kInteractive);
    });
  }

  static authorization::authorization_ref_t session_of(uid_t user) {
    authorization::authorization_ref_t ref;
    EXPECT_EQ(authorization::AuthorizationCreateFromExternalForm(register_session_for(user), &ref),
              platform::errAuthorizationSuccess);
    return ref;
  }

  static std::vector<std::string> error_lines() {
    std::vector<std::string> errors;
    for (const auto& line : test_support::read_trace_lines(kTracePath)) {
      if (line.level == "error") errors.push_back(line.name + ": " + line.message);
    }
    return errors;
  }

  static int polkit_services(const char* command) {
    const std::string script = std::string(VELMORA_SOURCE_DIR) + "/" + kPolkitServices;
    return sandbox::run({script, command}).status;
  }
};

TEST_F(PolkitAuthorityTest, AdministratorsPasswordGrantsAndTheDialogShowsTheRight) {
  const tty_agent::subject_process_t client(kAlice);
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  const auto ref = session_of(kAlice);
  auto status = request(ref, client, kSettingsRight);
  ASSERT_TRUE(agent.type_password("alice-secret")) << agent.screen();
  EXPECT_EQ(status.get(), platform::errAuthorizationSuccess);
  EXPECT_NE(agent.screen().find(std::string("AUTHENTICATING FOR ") + kSettingsRight),
            std::string::npos);
  EXPECT_NE(agent.screen().find(kSettingsText), std::string::npos);
  EXPECT_NE(agent.screen().find("Authenticating as: Alice (alice)"), std::string::npos);
  EXPECT_TRUE(error_lines().empty());
}

TEST_F(PolkitAuthorityTest, WrongPasswordOrNoAdministratorIsDenied) {
  {
    const tty_agent::subject_process_t client(kAlice);
    tty_agent::agent_t agent(client.pid());
    ASSERT_TRUE(agent.wait_registered());
    const auto ref = session_of(kAlice);
    auto status = request(ref, client, kSettingsRight);
    ASSERT_TRUE(agent.type_password("not-alices-password")) << agent.screen();
    EXPECT_EQ(status.get(), platform::errAuthorizationDenied);
  }
  // bob is asked for an administrator's password (alice is the only one) and types his own.
  const tty_agent::subject_process_t client(kBob);
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  const auto ref = session_of(kBob);
  auto status = request(ref, client, kSettingsRight);
  ASSERT_TRUE(agent.type_password("bob-secret")) << agent.screen();
  EXPECT_EQ(status.get(), platform::errAuthorizationDenied);
  EXPECT_NE(agent.screen().find("Authenticating as: Alice (alice)"), std::string::npos);
}

// polkitd reports an agent that went away in the middle as "not authorized"; it marks a request
// dismissed only when an agent answers that its user cancelled.
TEST_F(PolkitAuthorityTest, ClosingTheAgentGrantsNothing) {
  const tty_agent::subject_process_t client(kAlice);
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  const auto ref = session_of(kAlice);
  auto status = request(ref, client, kSettingsRight);
  ASSERT_TRUE(agent.wait_for("Password:")) << agent.screen();
  agent.close_terminal();
  EXPECT_EQ(status.get(), platform::errAuthorizationDenied);
}

// The desktop's dialog answers a Cancel with polkit's "Cancelled": the request is cancelled.
TEST_F(PolkitAuthorityTest, CancellingTheDialogCancels) {
  const tty_agent::subject_process_t client(kAlice);
  const cancelling_agent_t agent(client.pid());
  ASSERT_TRUE(agent.registered());
  const auto ref = session_of(kAlice);
  EXPECT_EQ(request(ref, client, kSettingsRight).get(), platform::errAuthorizationCanceled);
  EXPECT_EQ(agent.asked(), 1);
  EXPECT_TRUE(error_lines().empty());
}

// "is-admin" reuses the session's credentials for five minutes; "authenticate-admin" asks
// every time, through the real dialog both.
TEST_F(PolkitAuthorityTest, IsAdminReusesRecentCredentialsAuthenticateAdminAsksAgain) {
  const tty_agent::subject_process_t client(kAlice);
  tty_agent::agent_t agent(client.pid());
  ASSERT_TRUE(agent.wait_registered());
  const auto ref = session_of(kAlice);
  auto first = request(ref, client, kInstallRight);
  ASSERT_TRUE(agent.type_password("alice-secret")) << agent.screen();
  ASSERT_EQ(first.get(), platform::errAuthorizationSuccess);
  ASSERT_TRUE(agent.wait_for("AUTHENTICATION COMPLETE"));
  const std::size_t shown = agent.screen().size();

  EXPECT_EQ(request(ref, client, kInstallRight).get(), platform::errAuthorizationSuccess);
  agent.wait_for("AUTHENTICATING", std::chrono::milliseconds(300));
  EXPECT_EQ(agent.screen().size(), shown) << "asked again: " << agent.screen().substr(shown);

  auto settings = request(ref, client, kSettingsRight);
  ASSERT_TRUE(agent.type_password("alice-secret")) << agent.screen();
  EXPECT_EQ(settings.get(), platform::errAuthorizationSuccess);
  EXPECT_NE(agent.screen().find(kSettingsText, shown), std::string::npos);
}

TEST_F(PolkitAuthorityTest, WithoutAnAgentNothingIsGranted) {
  const tty_agent::subject_process_t client(kAlice);
  const auto ref = session_of(kAlice);
  EXPECT_EQ(request(ref, client, kSettingsRight).get(), platform::errAuthorizationCanceled);
  const auto errors = error_lines();
  ASSERT_EQ(errors.size(), 1U);
  EXPECT_EQ(errors[0], "authorization: polkit: no authentication agent answered for process " +
                           std::to_string(client.pid()) + " (" + kSettingsRight + ")");
}

TEST_F(PolkitAuthorityTest, WithoutPolkitdNothingIsGranted) {
  ASSERT_EQ(polkit_services("stop"), 0);
  const tty_agent::subject_process_t client(kAlice);
  const auto ref = session_of(kAlice);
  const auto status = request(ref, client, kSettingsRight).get();
  ASSERT_EQ(polkit_services("start"), 0);
  EXPECT_EQ(status, platform::errAuthorizationInternal);
  const auto errors = error_lines();
  ASSERT_EQ(errors.size(), 1U);
  // The bus cannot start polkitd here either (its set-uid launcher is powerless in the root).
  EXPECT_EQ(errors[0].rfind("authorization: polkit CheckAuthorization failed: "
                            "org.freedesktop.DBus.Error.",
                            0),
            0U)
      << errors[0];
}

TEST_F(PolkitAuthorityTest, ARequestWithoutAClientProcessIsRefused) {
  const auto ref = session_of(kAlice);
  EXPECT_EQ(authorization::AuthorizationCopyRights(ref, {{kSettingsRight, {}, 0}}, kInteractive),
            platform::errAuthorizationInternal);
  EXPECT_EQ(error_lines(),
            std::vector<std::string>{std::string("authorization: polkit: no client process to "
                                                 "authenticate for ") +
                                     kSettingsRight});
}

}  // namespace
