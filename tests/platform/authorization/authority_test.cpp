#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "platform/authorization/authorization.h"
#include "platform/authorization/credentials_cache.h"
#include "platform/authorization/external_form.h"
#include "platform/authorization/right_registration.h"
#include "platform/authorization/rights_database.h"
#include "tests/support/files.h"
#include "tests/support/sandbox_session.h"

namespace authorization = platform::authorization;
using namespace sandbox_session;
using namespace std::chrono_literals;
using test_support::write_text;

namespace {

constexpr authorization::AuthorizationFlags kInteractive =
    authorization::kAuthorizationFlagInteractionAllowed |
    authorization::kAuthorizationFlagExtendRights;
constexpr const char* kAgent = "/usr/libexec/authorization-agent";

class AuthorityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_root();
    authorization::use_credentials_clock([this] { return now; });
  }
  void TearDown() override { authorization::use_credentials_clock(nullptr); }

  authorization::authorization_ref_t reference_for(const std::vector<std::uint8_t>& form) {
    authorization::authorization_ref_t reference;
    EXPECT_EQ(authorization::AuthorizationCreateFromExternalForm(form, &reference),
              platform::errAuthorizationSuccess);
    return reference;
  }

  platform::os_status_t copy(const authorization::authorization_ref_t& reference,
                             const std::string& right,
                             authorization::AuthorizationFlags flags = kInteractive) {
    return authorization::AuthorizationCopyRights(reference, {{right, {}, 0}}, flags);
  }

  static void define(const std::string& right, const std::string& rule) {
    ASSERT_EQ(authorization::rights_database_t(authorization::kAuthorizationDatabasePath)
                  .set(right, {rule, "Test right " + right}),
              platform::errAuthorizationSuccess);
  }

  std::chrono::steady_clock::time_point now{std::chrono::hours(24)};
};

TEST_F(AuthorityTest, SessionUserIsTheTokenFilesOwner) {
  const auto alice_form = register_session_as(kAlice);
  const auto bob_form = register_session_as(kBob);
  struct stat status {};
  ASSERT_EQ(::lstat(session_path(alice_form).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600U);

  EXPECT_EQ(reference_for(alice_form).user(), kAlice);
  EXPECT_EQ(reference_for(bob_form).user(), kBob);
  EXPECT_NE(alice_form, bob_form);
}

TEST_F(AuthorityTest, UnregisteredOrMalformedFormsAreInvalid) {
  authorization::authorization_ref_t reference;
  const std::vector<std::uint8_t> unknown(32, 0x5a);
  EXPECT_EQ(authorization::AuthorizationCreateFromExternalForm(unknown, &reference),
            platform::errAuthorizationInvalidRef);
  EXPECT_FALSE(reference);
  const auto form = register_session_for(kAlice);
  const std::vector<std::uint8_t> shorter(form.begin(), form.end() - 1);
  EXPECT_EQ(authorization::AuthorizationCreateFromExternalForm(shorter, &reference),
            platform::errAuthorizationInvalidRef);
  EXPECT_EQ(authorization::AuthorizationCopyRights(reference, {{"r", {}, 0}}, kInteractive),
            platform::errAuthorizationInvalidRef);
}

TEST_F(AuthorityTest, TokenThatIsNoRegularFileIsRefused) {
  const auto target = register_session_for(kAlice);
  const std::vector<std::uint8_t> as_link(32, 0x11), as_directory(32, 0x22), as_fifo(32, 0x33);
  ASSERT_EQ(::symlink(session_path(target).c_str(), session_path(as_link).c_str()), 0);
  ASSERT_EQ(::mkdir(session_path(as_directory).c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(session_path(as_fifo).c_str(), 0600), 0);
  for (const auto& form : {as_link, as_directory, as_fifo}) {
    authorization::authorization_ref_t reference;
    EXPECT_EQ(authorization::AuthorizationCreateFromExternalForm(form, &reference),
              platform::errAuthorizationInvalidRef)
        << session_path(form);
  }
}

TEST_F(AuthorityTest, ReferenceDiesWhenTheClientEndsItsSession) {
  const auto form = register_session_for(kAlice);
  const auto reference = reference_for(form);
  authorization::AuthorizationDestroyExternalForm(form);
  ASSERT_NE(::access(session_path(form).c_str(), F_OK), 0);
  set_agent_scenario({"alice alice-secret"});
  EXPECT_EQ(copy(reference, "com.example.right"), platform::errAuthorizationInvalidRef);
  EXPECT_TRUE(journal_calls(kAgent).empty());
}

TEST_F(AuthorityTest, AdministratorIsGrantedAndAgentSeesRightAndDescription) {
  define("com.example.right", "is-admin");
  const auto reference = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice alice-secret"});
  EXPECT_EQ(copy(reference, "com.example.right"), platform::errAuthorizationSuccess);
  const auto calls = journal_calls(kAgent);
  ASSERT_EQ(calls.size(), 1U);
  EXPECT_EQ(calls[0],
            (std::vector<std::string>{"com.example.right", "Test right com.example.right"}));
}

TEST_F(AuthorityTest, AgentAnswersOtherThanAnAdministrator) {
  const auto reference = reference_for(register_session_for(kBob));
  set_agent_scenario({"cancel"});
  EXPECT_EQ(copy(reference, "r.cancel"), platform::errAuthorizationCanceled);
  set_agent_scenario({"bob bob-secret", "alice alice-secret"});
  EXPECT_EQ(copy(reference, "r.bob"), platform::errAuthorizationDenied);
  EXPECT_EQ(agent_scenario_left(), "alice alice-secret\n");  // a non-admin is not asked again
  set_agent_scenario({"fail"});
  EXPECT_EQ(copy(reference, "r.fail"), platform::errAuthorizationInternal);
  // An empty password is never accepted; three wrong answers end the request.
  set_agent_scenario({"alice ", "alice wrong", "alice alice-Secret", "alice alice-secret"});
  EXPECT_EQ(copy(reference, "r.wrong"), platform::errAuthorizationDenied);
  EXPECT_EQ(journal_calls(kAgent).size(), 1U + 1U + 1U + 3U);
  EXPECT_EQ(agent_scenario_left(), "alice alice-secret\n");
}

TEST_F(AuthorityTest, WrongPasswordIsAskedAgain) {
  const auto reference = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice wrong", "ghost ghost-secret", "alice alice-secret"});
  EXPECT_EQ(copy(reference, "r"), platform::errAuthorizationSuccess);
  EXPECT_EQ(journal_calls(kAgent).size(), 3U);
}

TEST_F(AuthorityTest, WithoutInteractionOnlyHeldCredentialsCount) {
  const auto reference = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice alice-secret"});
  EXPECT_EQ(copy(reference, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationInteractionNotAllowed);
  EXPECT_EQ(copy(reference, "r", authorization::kAuthorizationFlagDefaults),
            platform::errAuthorizationDenied);
  EXPECT_TRUE(journal_calls(kAgent).empty());

  ASSERT_EQ(copy(reference, "r"), platform::errAuthorizationSuccess);
  EXPECT_EQ(copy(reference, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(copy(reference, "other", authorization::kAuthorizationFlagDefaults),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(journal_calls(kAgent).size(), 1U);
}

TEST_F(AuthorityTest, IsAdminReusesCredentialsOfTheSameSessionForFiveMinutes) {
  const auto form = register_session_for(kAlice);
  const auto first = reference_for(form);
  set_agent_scenario({"alice alice-secret"});
  ASSERT_EQ(copy(first, "r"), platform::errAuthorizationSuccess);

  now += 299s;
  const auto again = reference_for(form);  // a new reference to the same session
  EXPECT_EQ(copy(again, "r"), platform::errAuthorizationSuccess);
  EXPECT_EQ(journal_calls(kAgent).size(), 1U);

  const auto other_session = reference_for(register_session_for(kAlice));
  EXPECT_EQ(copy(other_session, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationInteractionNotAllowed);

  now += 1s;
  set_agent_scenario({"cancel"});
  EXPECT_EQ(copy(again, "r"), platform::errAuthorizationCanceled);
  EXPECT_EQ(journal_calls(kAgent).size(), 2U);
}

TEST_F(AuthorityTest, CredentialsDoNotPassToAnotherUsersFileOfTheSameName) {
  const auto form = register_session_for(kAlice);
  set_agent_scenario({"alice alice-secret"});
  ASSERT_EQ(copy(reference_for(form), "r"), platform::errAuthorizationSuccess);

  ASSERT_EQ(::chown(session_path(form).c_str(), kBob, kBob), 0);
  const auto bobs = reference_for(form);
  EXPECT_EQ(bobs.user(), kBob);
  EXPECT_EQ(copy(bobs, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationInteractionNotAllowed);
}

// The token is known to its owner, who could register it again after the session ended: the
// new file is a new session and must not find the old one's credentials.
TEST_F(AuthorityTest, TokenFileRecreatedByItsOwnerStartsANewSession) {
  const auto form = register_session_as(kAlice);
  set_agent_scenario({"alice alice-secret"});
  ASSERT_EQ(copy(reference_for(form), "r"), platform::errAuthorizationSuccess);

  const std::string path = session_path(form);
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(::unlink(path.c_str()), 0);
    write_text(path, "", 0600);
    ASSERT_EQ(::chown(path.c_str(), kAlice, kAlice), 0);
    EXPECT_EQ(copy(reference_for(form), "r", authorization::kAuthorizationFlagExtendRights),
              platform::errAuthorizationInteractionNotAllowed)
        << "round " << round;
  }
}

TEST_F(AuthorityTest, ReferenceMadeForOneOwnerFailsAfterTheFileChangesHands) {
  const auto form = register_session_for(kAlice);
  const auto alices = reference_for(form);
  ASSERT_EQ(::chown(session_path(form).c_str(), kBob, kBob), 0);
  EXPECT_EQ(copy(alices, "r"), platform::errAuthorizationInvalidRef);
}

TEST_F(AuthorityTest, AuthenticateAdminAsksEveryTime) {
  define("r.strict", "authenticate-admin");
  const auto reference = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice alice-secret", "alice alice-secret"});
  EXPECT_EQ(copy(reference, "r.strict"), platform::errAuthorizationSuccess);
  EXPECT_EQ(copy(reference, "r.strict"), platform::errAuthorizationSuccess);
  EXPECT_EQ(journal_calls(kAgent).size(), 2U);
  EXPECT_EQ(copy(reference, "r.strict", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationInteractionNotAllowed);
}

TEST_F(AuthorityTest, UnknownRuleGrantsNothing) {
  define("r.odd", "allow-everyone");
  const auto reference = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice alice-secret"});
  EXPECT_EQ(copy(reference, "r.odd"), platform::errAuthorizationDenied);
  EXPECT_EQ(copy(reference, ""), platform::errAuthorizationDenied);
  EXPECT_TRUE(journal_calls(kAgent).empty());
}

TEST_F(AuthorityTest, FreeEmptiesTheReferenceAndMayDestroyCredentials) {
  const auto form = register_session_for(kAlice);
  auto reference = reference_for(form);
  set_agent_scenario({"alice alice-secret"});
  ASSERT_EQ(copy(reference, "r"), platform::errAuthorizationSuccess);
  EXPECT_EQ(authorization::AuthorizationFree(reference, authorization::kAuthorizationFlagDefaults),
            platform::errAuthorizationSuccess);
  EXPECT_FALSE(reference);
  EXPECT_EQ(copy(reference, "r"), platform::errAuthorizationInvalidRef);

  reference = reference_for(form);
  EXPECT_EQ(copy(reference, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationSuccess);
  authorization::AuthorizationFree(reference, authorization::kAuthorizationFlagDestroyRights);
  reference = reference_for(form);
  EXPECT_EQ(copy(reference, "r", authorization::kAuthorizationFlagExtendRights),
            platform::errAuthorizationInteractionNotAllowed);
}

TEST_F(AuthorityTest, AddingARightTakesNoAdministratorChangingOrRemovingOneDoes) {
  authorization::authorization_ref_t none;
  EXPECT_EQ(authorization::AuthorizationRightSet(none, "r", "is-admin", "d"),
            platform::errAuthorizationInvalidRef);
  const auto bobs = reference_for(register_session_for(kBob));
  EXPECT_EQ(authorization::AuthorizationRightSet(bobs, "r", "made-up-rule", "d"),
            platform::errAuthorizationDenied);
  EXPECT_EQ(authorization::AuthorizationRightGet("r", nullptr), platform::errAuthorizationDenied);
  ASSERT_EQ(authorization::AuthorizationRightSet(bobs, "r", "is-admin", "d"),
            platform::errAuthorizationSuccess);
  EXPECT_TRUE(journal_calls(kAgent).empty());

  set_agent_scenario({"bob bob-secret", "bob bob-secret"});
  EXPECT_EQ(authorization::AuthorizationRightSet(bobs, "r", "authenticate-admin", "changed"),
            platform::errAuthorizationDenied);
  EXPECT_EQ(authorization::AuthorizationRightRemove(bobs, "r"), platform::errAuthorizationDenied);

  const auto alices = reference_for(register_session_for(kAlice));
  set_agent_scenario({"alice alice-secret"});
  ASSERT_EQ(authorization::AuthorizationRightSet(alices, "r", "authenticate-admin", "changed"),
            platform::errAuthorizationSuccess);
  authorization::right_definition_t definition;
  ASSERT_EQ(authorization::AuthorizationRightGet("r", &definition),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.rule, "authenticate-admin");
  EXPECT_EQ(definition.description, "changed");
  const auto asked = journal_calls(kAgent);
  ASSERT_EQ(asked.size(), 3U);
  EXPECT_EQ(asked[0][0], "config.modify.r");
  EXPECT_EQ(asked[1][0], "config.remove.r");
  EXPECT_EQ(asked[2][0], "config.modify.r");

  EXPECT_EQ(authorization::AuthorizationRightRemove(alices, "r"),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(authorization::AuthorizationRightRemove(alices, "r"), platform::errAuthorizationDenied);
  EXPECT_EQ(journal_calls(kAgent).size(), 3U);  // the removal reused alice's credentials
}

// A client that cannot write the database (any user but root) hands its additions to the
// authority through its session; the authority adds what the database still lacks when it next
// makes a reference from that session, and nothing from a file that is not the session's own.
TEST_F(AuthorityTest, AdditionsQueuedInASessionAreAddedByTheAuthority) {
  const auto form = register_session_for(kAlice);
  const auto token = authorization::session_token_from_bytes(form);
  ASSERT_TRUE(token);
  ASSERT_EQ(authorization::queue_right_addition(*token, {"q", {"authenticate-admin", "queued"}}),
            platform::errAuthorizationSuccess);
  ASSERT_EQ(authorization::queue_right_addition(*token, {"kept", {"is-admin", "queued"}}),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(authorization::queue_right_addition(*token, {"t", {"is-admin", "two\nlines"}}),
            platform::errSecParam);
  EXPECT_EQ(authorization::queue_right_addition(*token, {"bad", {"is-admin", "a\tb"}}),
            platform::errSecParam);
  define("kept", "authenticate-admin");
  EXPECT_EQ(authorization::AuthorizationRightGet("q", nullptr), platform::errAuthorizationDenied);

  reference_for(form);
  authorization::right_definition_t definition;
  ASSERT_EQ(authorization::AuthorizationRightGet("q", &definition),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.rule, "authenticate-admin");
  EXPECT_EQ(definition.description, "queued");
  ASSERT_EQ(authorization::AuthorizationRightGet("kept", &definition),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(definition.description, "Test right kept");  // an existing right is never replaced

  // Lines in a file that is no longer its user's are nobody's registration.
  const auto other = register_session_for(kBob);
  const auto other_token = authorization::session_token_from_bytes(other);
  ASSERT_TRUE(other_token);
  ASSERT_EQ(authorization::queue_right_addition(*other_token, {"foreign", {"is-admin", "x"}}),
            platform::errAuthorizationSuccess);
  EXPECT_EQ(authorization::queued_right_additions(*other_token, kBob).size(), 1U);
  ASSERT_EQ(::chown(session_path(other).c_str(), kAlice, kAlice), 0);
  EXPECT_TRUE(authorization::queued_right_additions(*other_token, kBob).empty());
}

}  // namespace
