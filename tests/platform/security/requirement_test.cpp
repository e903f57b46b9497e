#include "platform/security/requirement.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/security/certificate_fields.h"
#include "platform/security/hex_text.h"
#include "platform/security/requirement_lexer.h"
#include "platform/security/requirement_subject.h"
#include "tests/platform/security/fixtures.h"
#include "tests/platform/security/requirement_reference.h"

namespace platform {
namespace {

using codesign_fixtures::kClientRequirement;

std::string canonical(const std::string& text) {
  requirement_error_t error;
  const std::optional<requirement_t> requirement = requirement_t::compile(text, error);
  return requirement ? requirement->canonical_text() : "does not compile: " + error.describe();
}

TEST(RequirementCompileTest, ClientRequirementCompiles) {
  const std::string text = kClientRequirement;
  ASSERT_NE(text.find("\"com.corvantix.velmora-vl-5e3a07c4\"" + std::string(16, ' ') + "and "),
            std::string::npos);
  EXPECT_TRUE(requirement_t::compile(text).has_value());
}

TEST(RequirementTextTest, CanonicalForms) {
  EXPECT_EQ(canonical(kClientRequirement),
            "identifier \"com.corvantix.velmora-vl-5e3a07c4\" and anchor apple generic and "
            "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
            "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and "
            "certificate leaf[subject.OU] = R4TQ8N2VXH and "
            "info[CFBundleShortVersionString] >= \"6.0.0\"");
  EXPECT_EQ(canonical("(always or never) and !(never) // done"), "(always or never) and !never");
  EXPECT_EQ(canonical("true or (false and true)"), "always or never and always");
  EXPECT_EQ(canonical("!(identifier a and identifier b)"),
            "!(identifier \"a\" and identifier \"b\")");
  EXPECT_EQ(canonical("info[\"a b\"] = \"x\\\"y\\\\\""), "info[\"a b\"] = \"x\\\"y\\\\\"");
  EXPECT_EQ(canonical("info[k] = \"exists\"*"), "info[k] = \"exists\"*");
  EXPECT_EQ(canonical("info[k] = *x* or info[k] = *\"y\" or info[k] absent"),
            "info[k] = *x* or info[k] = *y or info[k] absent");
  EXPECT_EQ(canonical("cert root[subject.CN] exists and certificate 0 trusted"),
            "anchor[subject.CN] /* exists */ and certificate leaf trusted");
  EXPECT_EQ(canonical("cdhash H\"000102030405060708090A0B0C0D0E0F10111213\""),
            "cdhash H\"000102030405060708090a0b0c0d0e0f10111213\"");
}

TEST(RequirementTextTest, CertificateFilesBecomeHashes) {
  const codesign_fixtures::chain_t chain = codesign_fixtures::make_developer_chain();
  const codesign_fixtures::scratch_directory_t scratch;
  const std::filesystem::path file = scratch.path("root.pem");
  ASSERT_TRUE(codesign_fixtures::write_certificate_pem(file, chain.root.certificate.get()));
  const std::string sha1 = hex_text(certificate_digest(chain.root.certificate.get(), EVP_sha1()));
  EXPECT_EQ(canonical("anchor = \"" + file.string() + "\""), "anchor = H\"" + sha1 + "\"");
}

TEST(RequirementCompileTest, ErrorsSayWhereAndWhatWasExpected) {
  requirement_error_t error;
  EXPECT_FALSE(requirement_t::compile("identifier a and info[k] >", error));
  EXPECT_EQ(
      error.describe(),
      "offset 26: expected a constant (a word or a quoted string), found the end of the text");
  EXPECT_FALSE(requirement_t::compile("anchor apple\n and notarized", error));
  EXPECT_EQ(error.offset, 18u);
  EXPECT_NE(error.message.find("notarized"), std::string::npos);
  EXPECT_FALSE(requirement_t::compile("certificate leaf[field.1.2.3] = x", error));
  EXPECT_NE(error.message.find("'exists' or 'absent'"), std::string::npos) << error.message;
}

TEST(RequirementCompileTest, LineCommentsEndAtTheLine) {
  EXPECT_TRUE(requirement_t::compile("always // and never")->is_satisfied_by({}));
  const std::optional<requirement_t> two_lines = requirement_t::compile("always // x\nand never");
  ASSERT_TRUE(two_lines.has_value());
  EXPECT_FALSE(two_lines->is_satisfied_by({}));
}

TEST(RequirementCompileTest, NestingAndLengthAreBounded) {
  const std::string deep(100000, '(');
  requirement_error_t error;
  EXPECT_FALSE(requirement_t::compile(deep + "always", error));
  EXPECT_NE(error.message.find("nested too deeply"), std::string::npos);
  EXPECT_FALSE(requirement_t::compile(std::string(100000, '!') + "always", error));
  std::string wide = "always";
  for (int i = 0; i < 20000; ++i)
    wide += " and always";
  EXPECT_FALSE(requirement_t::compile(wide, error));
  EXPECT_NE(error.message.find("too many clauses"), std::string::npos);
  EXPECT_TRUE(requirement_t::compile(std::string(200, '(') + "always" + std::string(200, ')')));
}

TEST(RequirementLexerTest, TokensCarryTheirOffsets) {
  const std::optional<std::vector<token_t>> tokens =
      tokenize_requirement("a /* c */ = H\"0aFf\" \"q\\\"\"* <= /p/q");
  ASSERT_TRUE(tokens.has_value());
  ASSERT_EQ(tokens->size(), 8u);
  EXPECT_EQ((*tokens)[1].kind, token_kind_t::equal);
  EXPECT_EQ((*tokens)[1].offset, 10u);
  EXPECT_EQ((*tokens)[2].kind, token_kind_t::hash);
  EXPECT_EQ((*tokens)[2].text, std::string("\x0a\xff", 2));
  EXPECT_EQ((*tokens)[3].text, "q\"");
  EXPECT_EQ((*tokens)[4].kind, token_kind_t::star);
  EXPECT_EQ((*tokens)[5].kind, token_kind_t::less_equal);
  EXPECT_EQ((*tokens)[6].text, "/p/q");
  EXPECT_EQ((*tokens)[7].kind, token_kind_t::end);
}

// "anchor apple" is the vendor's root only: an anchor kept in another file of the folder
// validates the chain and satisfies "anchor apple generic" and "anchor trusted", not it.
TEST(RequirementEvalTest, AnchorAppleIsTheVendorFileOnly) {
  const codesign_fixtures::chain_t chain = codesign_fixtures::make_developer_chain();
  const codesign_fixtures::scratch_directory_t scratch;
  ASSERT_TRUE(codesign_fixtures::write_trust_anchor(scratch.path(), chain));  // root.pem
  const openssl::x509_store_ptr_t anchors = load_trust_anchors(scratch.path());
  openssl::x509_stack_ptr_t full(sk_X509_new_null());
  for (const auto* identity : {&chain.leaf, &chain.intermediate, &chain.root}) {
    X509_up_ref(identity->certificate.get());
    sk_X509_push(full.get(), identity->certificate.get());
  }
  requirement_subject_t subject{"a", full.get(), nullptr};
  subject.anchors = anchors.get();
  EXPECT_FALSE(requirement_t::compile("anchor apple")->is_satisfied_by(subject));
  EXPECT_TRUE(requirement_t::compile("anchor apple generic")->is_satisfied_by(subject));
  EXPECT_TRUE(requirement_t::compile("anchor trusted")->is_satisfied_by(subject));
  EXPECT_FALSE(requirement_t::compile("certificate 1 trusted")->is_satisfied_by(subject));
}

TEST(RequirementEvalTest, NothingHoldsForCodeWithoutChainOrInfo) {
  const requirement_subject_t bare{"a", nullptr, nullptr};
  for (const char* text :
       {"anchor apple generic", "anchor apple", "anchor trusted", "certificate leaf[subject.OU]",
        "certificate leaf[subject.OU] absent", "info[CFBundleShortVersionString] exists",
        "entitlement[a] exists", "cdhash H\"000102030405060708090a0b0c0d0e0f10111213\""}) {
    EXPECT_FALSE(requirement_t::compile(text)->is_satisfied_by(bare)) << text;
  }
  EXPECT_TRUE(
      requirement_t::compile("info[a] absent and entitlement[b] absent")->is_satisfied_by(bare));
}

}  // namespace
}  // namespace platform
