#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "platform/security/bundle.h"
#include "platform/security/bundle_signing.h"
#include "platform/security/code_directory.h"
#include "platform/security/code_signing.h"
#include "platform/security/designated_requirement.h"
#include "tests/platform/security/signed_bundle_fixture.h"
#include "tests/support/files.h"

namespace codesign_fixtures {
namespace {

using BundleSignatureTest = signed_bundle_test_t;
using test_support::read_text;
using test_support::write_text;

TEST_F(BundleSignatureTest, SignedBundleSatisfiesClientRequirement) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const platform::code_check_t check = check_on_disk(&client_requirement_);
  EXPECT_EQ(check.status, platform::errSecSuccess) << check.reason;
}

TEST_F(BundleSignatureTest, UnsignedBundleIsRefused) {
  EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecCSUnsigned);
}

TEST_F(BundleSignatureTest, ChangesAfterSigningAreRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::filesystem::path info = platform::info_plist_path(bundle_);
  const std::string original = read_text(info);
  std::string newer = original;
  newer.replace(newer.find("6.0.0"), 5, "7.0.0");
  write_text(info, newer);
  EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecCSBadResource);

  write_text(info, original);
  ASSERT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess);
  append_byte(main_executable(bundle_));
  const platform::code_check_t check = check_on_disk(&client_requirement_);
  EXPECT_EQ(check.status, platform::errSecCSBadResource);
  EXPECT_NE(check.reason.find("executable"), std::string::npos) << check.reason;
}

TEST_F(BundleSignatureTest, DamagedSignatureIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::filesystem::path signature = platform::signature_path(bundle_);
  std::string bytes = read_text(signature);
  // One bit of the signed code directory, which is attached as a binary property list.
  const std::size_t content = bytes.find("bplist00");
  ASSERT_NE(content, std::string::npos);
  bytes[content + 20] = static_cast<char>(bytes[content + 20] ^ 0x01);
  write_text(signature, bytes);
  EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecCSSignatureFailed);
  write_text(signature, "not a signature");
  EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecCSSignatureFailed);
}

// A second signer could vouch for other content than the first: only one signer is accepted.
TEST_F(BundleSignatureTest, SignatureWithTwoSignersIsRefused) {
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const std::filesystem::path signature = platform::signature_path(bundle_);
  const std::string der = read_text(signature);
  platform::openssl::bio_ptr_t input(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
  platform::openssl::cms_ptr_t cms(d2i_CMS_bio(input.get(), nullptr));
  ASSERT_TRUE(cms);
  const chain_t other = make_developer_chain();
  ASSERT_NE(CMS_add1_signer(cms.get(), other.leaf.certificate.get(), other.leaf.key.get(),
                            EVP_sha256(), CMS_BINARY),
            nullptr);
  platform::openssl::bio_ptr_t output(BIO_new(BIO_s_mem()));
  ASSERT_EQ(i2d_CMS_bio(output.get(), cms.get()), 1);
  char* bytes = nullptr;
  const long length = BIO_get_mem_data(output.get(), &bytes);
  write_text(signature, std::string(bytes, static_cast<std::size_t>(length)));

  const platform::code_check_t check = check_on_disk(nullptr);
  EXPECT_EQ(check.status, platform::errSecCSSignatureFailed);
  EXPECT_NE(check.reason.find("one signer"), std::string::npos) << check.reason;
}

TEST_F(BundleSignatureTest, ChainMustLeadToAnAnchorInTheStore) {
  const chain_t stranger = make_developer_chain();
  ASSERT_TRUE(sign_bundle(bundle_, stranger));
  EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecCSSignatureFailed);
  std::filesystem::remove(anchors_ / "root.pem");
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecCSSignatureFailed);
}

TEST_F(BundleSignatureTest, SignatureWithoutItsIntermediateIsRefused) {
  std::string error;
  platform::signing_identity_t identity = chain_.signing_identity();
  identity.intermediates = nullptr;
  ASSERT_TRUE(platform::sign_bundle(bundle_, kSigningIdentifier, identity, error)) << error;
  EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecCSSignatureFailed);
}

TEST_F(BundleSignatureTest, ValidSignaturesThatDoNotSatisfyTheRequirement) {
  struct case_t {
    const char* what;
    chain_options_t chain;
    std::string version = "6.0.0";
    std::string identifier = kSigningIdentifier;
  };
  const case_t cases[] = {
      {"another team", {.team = "Q7ZK3M9PLB"}},
      {"no intermediate marker", {.intermediate_marker = false}},
      {"no leaf marker", {.leaf_marker = false}},
      {"older version", {}, "5.9.9"},
      {"another application", {}, "6.0.0", "com.corvantix.velmora-vl-00000000"},
      {"the helper's identifier", {}, "6.0.0", "com.corvantix.velmora-vl-5e3a07c4.Helper"},
  };
  for (const case_t& c : cases) {
    SCOPED_TRACE(c.what);
    const chain_t chain = make_developer_chain(c.chain);
    ASSERT_TRUE(write_trust_anchor(anchors_, chain));
    bundle_ = make_bundle(scratch_.path(), {.short_version = c.version});
    ASSERT_TRUE(sign_bundle(bundle_, chain, c.identifier));
    EXPECT_EQ(check_on_disk(nullptr).status, platform::errSecSuccess);
    EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecCSReqFailed);
  }
}

TEST_F(BundleSignatureTest, NewerVersionsSatisfyTheRequirement) {
  for (const char* version : {"6.0.0", "6.0", "6.0.1", "6.10", "10.0"}) {
    bundle_ = make_bundle(scratch_.path(), {.short_version = version});
    ASSERT_TRUE(sign_bundle(bundle_, chain_));
    EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess) << version;
  }
}

TEST_F(BundleSignatureTest, SigningNeedsATeamAndAMainExecutable) {
  std::string error;
  const identity_t no_team =
      make_identity({"Developer ID Application: Nobody", "", false, {}}, &chain_.intermediate);
  EXPECT_FALSE(platform::sign_bundle(
      bundle_, kSigningIdentifier, {no_team.certificate.get(), no_team.key.get(), nullptr}, error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove(main_executable(bundle_));
  EXPECT_FALSE(sign_bundle(bundle_, chain_));
  EXPECT_FALSE(std::filesystem::exists(platform::signature_path(bundle_)));
}

// A signature made before code directories carried entitlements and a designated requirement.
TEST_F(BundleSignatureTest, SignaturesWithoutDeclarationsStillVerify) {
  platform::code_directory_t directory{kSigningIdentifier, kTeamIdentifier, {}, {}, {}, {}};
  directory.executable_digest = platform::sha256_of_bytes(read_text(main_executable(bundle_)));
  directory.info_plist_digest =
      platform::sha256_of_bytes(read_text(platform::info_plist_path(bundle_)));
  std::string error;
  const std::optional<std::string> der =
      platform::sign_code_directory(directory, chain_.signing_identity(), error);
  ASSERT_TRUE(der.has_value()) << error;
  std::filesystem::create_directories(platform::signature_path(bundle_).parent_path());
  write_text(platform::signature_path(bundle_), *der);
  EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess);
  const auto absent = platform::requirement_t::compile("entitlement[a] absent");
  EXPECT_EQ(check_on_disk(&*absent).status, platform::errSecSuccess);
}

TEST_F(BundleSignatureTest, DefaultDesignatedRequirementNamesTheTeam) {
  const chain_t plain = make_developer_chain({.leaf_marker = false});
  EXPECT_EQ(
      platform::default_designated_requirement(
          "a", plain.leaf.certificate.get(), plain.intermediate.certificate.get(), kTeamIdentifier),
      "identifier \"a\" and anchor apple generic and certificate leaf[subject.OU] = "
      "R4TQ8N2VXH");
  // Whatever the chain, the code it was made for satisfies it.
  ASSERT_TRUE(sign_bundle(bundle_, chain_));
  const auto designated = platform::requirement_t::compile(platform::default_designated_requirement(
      kSigningIdentifier, chain_.leaf.certificate.get(), chain_.intermediate.certificate.get(),
      kTeamIdentifier));
  ASSERT_TRUE(designated.has_value());
  EXPECT_EQ(check_on_disk(&*designated).status, platform::errSecSuccess);
}

TEST(CodeDirectoryTest, RoundTripsAndRejectsIncompleteDirectories) {
  platform::code_directory_t directory{"com.corvantix.app", "R4TQ8N2VXH", {}, {}, {}, {}};
  directory.executable_digest.fill(0xab);
  directory.info_plist_digest.fill(0xcd);
  std::optional<platform::code_directory_t> decoded =
      platform::code_directory_t::decode(directory.encode());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->identifier, directory.identifier);
  EXPECT_EQ(decoded->team_identifier, directory.team_identifier);
  EXPECT_EQ(decoded->executable_digest, directory.executable_digest);
  EXPECT_EQ(decoded->info_plist_digest, directory.info_plist_digest);
  EXPECT_TRUE(decoded->entitlements.empty());
  EXPECT_TRUE(decoded->designated_requirement.empty());

  directory.entitlements = "<plist><dict/></plist>";
  directory.designated_requirement = "identifier \"com.corvantix.app\"";
  decoded = platform::code_directory_t::decode(directory.encode());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->entitlements, directory.entitlements);
  EXPECT_EQ(decoded->designated_requirement, directory.designated_requirement);

  const std::string encoded = directory.encode();
  EXPECT_FALSE(platform::code_directory_t::decode(encoded.substr(0, encoded.size() / 2)));
  EXPECT_FALSE(platform::code_directory_t::decode(""));
  EXPECT_FALSE(platform::code_directory_t::decode(
      "<plist version=\"1.0\"><dict><key>version</key><integer>1</integer>"
      "<key>identifier</key><string>a</string></dict></plist>"));
}

}  // namespace
}  // namespace codesign_fixtures
