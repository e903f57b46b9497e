#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <filesystem>

#include "platform/security/code_signing.h"
#include "tests/platform/security/signed_bundle_fixture.h"

namespace codesign_fixtures {
namespace {

class GuestValidationTest : public signed_bundle_test_t {
 protected:
  std::optional<platform::guest_code_t> guest_of(const client_process_t& client) const {
    const std::optional<platform::process_ref_t> peer = client.reference();
    EXPECT_TRUE(peer.has_value());
    return peer ? platform::SecCodeCopyGuestWithAttributes(*peer) : std::nullopt;
  }

  platform::os_status_t validity(const client_process_t& client) const {
    const std::optional<platform::guest_code_t> guest = guest_of(client);
    if (!guest) return platform::errSecCSNoSuchCode;
    EXPECT_EQ(guest->bundle, bundle_);
    return platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_);
  }
};

TEST_F(GuestValidationTest, SignedRunningClientIsAccepted) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle_));
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(validity(*client), platform::errSecSuccess);
}

TEST_F(GuestValidationTest, UnsignedRunningClientIsRefused) {
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle_));
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(validity(*client), platform::errSecCSUnsigned);
}

TEST_F(GuestValidationTest, ClientChangedAfterSigningIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  append_byte(main_executable(bundle_));
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle_));
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(validity(*client), platform::errSecCSBadResource);
}

TEST_F(GuestValidationTest, ExecutableOutsideABundleHasNoGuest) {
  const std::optional<client_process_t> loose = client_process_t::start(client_program_path());
  ASSERT_TRUE(loose.has_value());
  EXPECT_FALSE(guest_of(*loose).has_value());

  // Inside a signed bundle, but not the executable its Info.plist names.
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::filesystem::path other = bundle_ / "Contents" / "MacOS" / "Other";
  std::filesystem::copy_file(main_executable(bundle_), other);
  const std::optional<client_process_t> stray = client_process_t::start(other);
  ASSERT_TRUE(stray.has_value());
  EXPECT_FALSE(guest_of(*stray).has_value());
}

TEST_F(GuestValidationTest, TracedClientIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle_));
  ASSERT_TRUE(client.has_value());
  ASSERT_EQ(::ptrace(PTRACE_SEIZE, client->pid(), nullptr, nullptr), 0);
  EXPECT_EQ(validity(*client), platform::errSecCSGuestInvalid);
}

class LoaderOverrideTest : public GuestValidationTest,
                           public testing::WithParamInterface<const char*> {};

TEST_P(LoaderOverrideTest, ClientStartedWithLoaderOverrideIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::optional<client_process_t> client =
      client_process_t::start(main_executable(bundle_), {GetParam()});
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(validity(*client), platform::errSecCSGuestInvalid);
}

INSTANTIATE_TEST_SUITE_P(Variables, LoaderOverrideTest,
                         testing::Values("LD_PRELOAD=libm.so.6", "LD_AUDIT=libm.so.6",
                                         "LD_LIBRARY_PATH=/tmp"));

TEST_F(GuestValidationTest, OtherEnvironmentIsAccepted) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::optional<client_process_t> client =
      client_process_t::start(main_executable(bundle_), {"LD_BIND_NOW=1", "MY_LD_PRELOAD=x"});
  ASSERT_TRUE(client.has_value());
  EXPECT_EQ(validity(*client), platform::errSecSuccess);
}

// The running program is what is hashed: putting the signed file back on disk after starting an
// unsigned one proves nothing.
TEST_F(GuestValidationTest, FileReplacedOnDiskAfterStartIsNotTrusted) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::filesystem::path executable = main_executable(bundle_);
  const std::filesystem::path signed_copy = scratch_.path("signed-copy");
  std::filesystem::copy_file(executable, signed_copy);
  append_byte(executable);  // no longer what was signed
  const std::optional<client_process_t> client = client_process_t::start(executable);
  ASSERT_TRUE(client.has_value());
  std::filesystem::rename(signed_copy, executable);
  ASSERT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess);

  const std::optional<platform::guest_code_t> guest = guest_of(*client);
  ASSERT_TRUE(guest.has_value());
  EXPECT_EQ(platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_),
            platform::errSecCSBadResource);
}

// A signed program that looks up fine and then executes another one before the check.
TEST_F(GuestValidationTest, ClientThatExecutedAnotherProgramIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  std::optional<client_process_t> client =
      client_process_t::start(main_executable(bundle_), {}, client_program_path());
  ASSERT_TRUE(client.has_value());
  const std::optional<platform::guest_code_t> guest = guest_of(*client);
  ASSERT_TRUE(guest.has_value());
  ASSERT_EQ(platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_),
            platform::errSecSuccess);
  ASSERT_TRUE(client->execute_replacement());
  EXPECT_TRUE(guest->process.is_running());
  EXPECT_EQ(platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_),
            platform::errSecCSNoSuchCode);
}

TEST_F(GuestValidationTest, ClientGoneAfterLookupIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  std::optional<client_process_t> client = client_process_t::start(main_executable(bundle_));
  ASSERT_TRUE(client.has_value());
  const std::optional<platform::guest_code_t> guest = guest_of(*client);
  ASSERT_TRUE(guest.has_value());
  client.reset();  // killed and reaped
  EXPECT_FALSE(guest->process.is_running());
  EXPECT_EQ(platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_),
            platform::errSecCSNoSuchCode);
}

TEST(ProcessRefTest, SocketPeerIsTheConnectedProcess) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  const platform::unique_fd_t left(pair[0]), right(pair[1]);
  const std::optional<platform::process_ref_t> peer =
      platform::process_ref_t::of_socket_peer(left.get());
  ASSERT_TRUE(peer.has_value());
  EXPECT_EQ(peer->pid(), ::getpid());
  EXPECT_GE(peer->pidfd(), 0);
  EXPECT_TRUE(peer->is_running());
  const std::optional<platform::process_ref_t> copy = peer->duplicate();
  ASSERT_TRUE(copy.has_value());
  EXPECT_NE(copy->pidfd(), peer->pidfd());
  EXPECT_EQ(copy->pid(), peer->pid());
}

TEST(ProcessRefTest, RecordedPidfdMustNameTheRecordedPid) {
  const std::optional<client_process_t> client = client_process_t::start(client_program_path());
  ASSERT_TRUE(client.has_value());
  const std::optional<platform::process_ref_t> recorded = client->reference();
  ASSERT_TRUE(recorded.has_value());

  const std::optional<platform::process_ref_t> copy =
      platform::process_ref_t::of_pid_and_pidfd(client->pid(), recorded->pidfd());
  ASSERT_TRUE(copy.has_value());
  EXPECT_EQ(copy->pid(), client->pid());
  EXPECT_NE(copy->pidfd(), recorded->pidfd());
  EXPECT_FALSE(platform::process_ref_t::of_pid_and_pidfd(::getpid(), recorded->pidfd()));
  const std::optional<platform::process_ref_t> opened =
      platform::process_ref_t::of_pid_and_pidfd(client->pid(), -1);
  ASSERT_TRUE(opened.has_value());
  EXPECT_TRUE(opened->is_running());
}

TEST(ProcessRefTest, ReapedProcessIsNotRunningAndCannotBeFound) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ASSERT_GT(pid, 0);
  const std::optional<platform::process_ref_t> child = platform::process_ref_t::of_pid(pid);
  ASSERT_TRUE(child.has_value());
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_FALSE(child->is_running());
  EXPECT_FALSE(platform::process_ref_t::of_pid(pid).has_value());
  EXPECT_FALSE(platform::SecCodeCopyGuestWithAttributes(*child).has_value());
}

}  // namespace
}  // namespace codesign_fixtures
