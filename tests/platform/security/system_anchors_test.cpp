// Runs inside the throwaway root: the public checks read /etc/codesign/anchors.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/security/code_signing.h"
#include "tests/platform/security/fixtures.h"

namespace codesign_fixtures {
namespace {

const std::filesystem::path kAnchors{platform::kTrustAnchorDirectory};

TEST(SystemAnchorsTest, ClientsAreCheckedAgainstTheSystemAnchors) {
  scratch_directory_t scratch;
  const chain_t chain = make_developer_chain();
  const std::filesystem::path bundle = make_bundle(scratch.path());
  ASSERT_TRUE(sign_bundle(bundle, chain));
  const std::optional<client_process_t> client = client_process_t::start(main_executable(bundle));
  ASSERT_TRUE(client.has_value());
  const std::optional<platform::process_ref_t> peer = client->reference();
  ASSERT_TRUE(peer.has_value());
  const std::optional<platform::guest_code_t> guest =
      platform::SecCodeCopyGuestWithAttributes(*peer);
  ASSERT_TRUE(guest.has_value());
  const std::optional<platform::requirement_t> requirement =
      platform::SecRequirementCreateWithString(kClientRequirement);
  ASSERT_TRUE(requirement.has_value());

  std::filesystem::remove_all(kAnchors);
  EXPECT_EQ(platform::SecCodeCheckValidity(*guest, *requirement),
            platform::errSecCSSignatureFailed);
  ASSERT_TRUE(write_trust_anchor(kAnchors, chain));
  EXPECT_EQ(platform::SecCodeCheckValidity(*guest, *requirement), platform::errSecSuccess);
  // Another developer's root in the store does not vouch for this chain.
  ASSERT_TRUE(write_trust_anchor(kAnchors, make_developer_chain()));
  EXPECT_EQ(platform::SecCodeCheckValidity(*guest, *requirement),
            platform::errSecCSSignatureFailed);
}

}  // namespace
}  // namespace codesign_fixtures
