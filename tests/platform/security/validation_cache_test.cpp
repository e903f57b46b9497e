// A returning client is validated from memory; nothing remembered may outlive a change of what
// was checked: the executable, the anchors, the clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/base/lru_cache.h"
#include "platform/security/code_signing.h"
#include "platform/security/executable_digest.h"
#include "platform/security/file_identity.h"
#include "platform/security/signature_cache.h"
#include "tests/platform/security/signed_bundle_fixture.h"

namespace codesign_fixtures {
namespace {

class ValidationCacheTest : public signed_bundle_test_t {
 protected:
  void SetUp() override {
    signed_bundle_test_t::SetUp();
    // Room at the end of the executable to change a byte without breaking the program.
    bundle_ = make_bundle(scratch_.path(), {.name = "Padded", .executable_size = 256 << 10});
    executable_ = main_executable(bundle_, "Padded");
    ASSERT_TRUE(sign_bundle(bundle_, chain_));
  }

  // What the file system shows of a change only after the settled margin has passed.
  static void let_changes_settle() {
    std::this_thread::sleep_for(std::chrono::seconds(platform::kSettledSeconds) +
                                std::chrono::milliseconds(200));
  }

  platform::os_status_t validity_of_new_client() const {
    const std::optional<client_process_t> client = client_process_t::start(executable_);
    const std::optional<platform::process_ref_t> peer = client ? client->reference() : std::nullopt;
    const std::optional<platform::guest_code_t> guest =
        peer ? platform::SecCodeCopyGuestWithAttributes(*peer) : std::nullopt;
    if (!guest) return platform::errSecCSNoSuchCode;
    return platform::SecCodeCheckValidityWithAnchors(*guest, client_requirement_, anchors_);
  }

  std::filesystem::path executable_;
};

TEST_F(ValidationCacheTest, ReturningClientIsCheckedFromMemory) {
  let_changes_settle();
  ASSERT_EQ(validity_of_new_client(), platform::errSecSuccess);
  const std::size_t digests = platform::executable_digests_reused();
  const std::size_t signatures = platform::signatures_reused();
  EXPECT_EQ(validity_of_new_client(), platform::errSecSuccess);
  EXPECT_EQ(platform::executable_digests_reused(), digests + 1);
  EXPECT_EQ(platform::signatures_reused(), signatures + 1);
}

// The attack a cache keyed by file metadata invites: the same size, the same modification time,
// within the same second. Only the change time, which no user can set, tells.
TEST_F(ValidationCacheTest, ExecutableModifiedInPlaceRightAfterAValidationIsRefused) {
  let_changes_settle();
  ASSERT_EQ(validity_of_new_client(), platform::errSecSuccess);
  struct stat before {};
  ASSERT_EQ(::stat(executable_.c_str(), &before), 0);
  {
    const platform::unique_fd_t file(::open(executable_.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(file);
    ASSERT_EQ(::pwrite(file.get(), "X", 1, before.st_size - 1), 1);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::futimens(file.get(), times), 0);
  }
  struct stat after {};
  ASSERT_EQ(::stat(executable_.c_str(), &after), 0);
  ASSERT_EQ(after.st_size, before.st_size);
  ASSERT_EQ(after.st_ino, before.st_ino);
  ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(validity_of_new_client(), platform::errSecCSBadResource);
  // Once the change has settled, the executable's identity still differs from the one read.
  let_changes_settle();
  EXPECT_EQ(validity_of_new_client(), platform::errSecCSBadResource);
}

// Read too soon after a change, a file could still change within the same clock step unseen.
TEST_F(ValidationCacheTest, RecentlyChangedExecutableIsReadEveryTime) {
  ASSERT_EQ(validity_of_new_client(), platform::errSecSuccess);
  const std::size_t digests = platform::executable_digests_reused();
  EXPECT_EQ(validity_of_new_client(), platform::errSecSuccess);
  EXPECT_EQ(platform::executable_digests_reused(), digests);
}

TEST_F(ValidationCacheTest, AnchorsReplacedAfterAValidationAreUsedForTheNext) {
  let_changes_settle();
  ASSERT_EQ(validity_of_new_client(), platform::errSecSuccess);
  const chain_t other = make_developer_chain();
  std::filesystem::remove_all(anchors_);
  ASSERT_TRUE(write_trust_anchor(anchors_, other));
  EXPECT_EQ(validity_of_new_client(), platform::errSecCSSignatureFailed);
  let_changes_settle();
  EXPECT_EQ(validity_of_new_client(), platform::errSecCSSignatureFailed);
}

TEST_F(ValidationCacheTest, RememberedSignatureCarriesWhatAFreshVerificationDoes) {
  std::ifstream in(bundle_ / "Contents/_CodeSignature/CodeSignature", std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const platform::openssl::x509_store_ptr_t store = platform::load_trust_anchors(anchors_);
  const platform::sha256_t generation = platform::sha256_of_bytes(bundle_.string());
  const platform::signature_check_t fresh = platform::verify_code_signature(der, store.get());
  ASSERT_NE(fresh.code, nullptr);

  const std::size_t reused = platform::signatures_reused();
  for (int round = 0; round < 2; ++round) {
    const platform::signature_check_t check =
        platform::verify_code_signature_remembered(der, store.get(), generation);
    ASSERT_NE(check.code, nullptr);
    EXPECT_EQ(check.code->directory.identifier, fresh.code->directory.identifier);
    EXPECT_EQ(check.code->directory.executable_digest, fresh.code->directory.executable_digest);
    EXPECT_EQ(check.code->directory_hash, fresh.code->directory_hash);
    ASSERT_EQ(sk_X509_num(check.code->chain.get()), sk_X509_num(fresh.code->chain.get()));
    for (int index = 0; index < sk_X509_num(fresh.code->chain.get()); ++index) {
      EXPECT_EQ(X509_cmp(sk_X509_value(check.code->chain.get(), index),
                         sk_X509_value(fresh.code->chain.get(), index)),
                0);
    }
  }
  EXPECT_EQ(platform::signatures_reused(), reused + 1);
}

TEST(LruCacheTest, ForgetsTheLeastRecentlyUsedFirst) {
  platform::lru_cache_t<int, std::string> cache(2);
  cache.insert(1, "one");
  cache.insert(2, "two");
  EXPECT_EQ(cache.find(1), "one");  // 2 is now the least recently used
  cache.insert(3, "three");
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_FALSE(cache.find(2).has_value());
  EXPECT_EQ(cache.find(1), "one");
  EXPECT_EQ(cache.find(3), "three");
  cache.insert(3, "drei");
  EXPECT_EQ(cache.find(3), "drei");
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache.found(), 4u);
}

}  // namespace
}  // namespace codesign_fixtures
