#include "platform/security/requirement.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/property_list.h"
#include "platform/security/requirement_subject.h"
#include "tests/platform/security/fixtures.h"

namespace platform {
namespace {

using codesign_fixtures::kClientRequirement;

TEST(requirement_compile_test, ClientRequirementCompiles) {
  const std::string text = kClientRequirement;
  ASSERT_NE(text.find("\"com.corvantix.velmora-vl-5e3a07c4\"" + std::string(16, ' ') + "and "),
            std::string::npos);
  EXPECT_TRUE(requirement_t::compile(text).has_value());
}

TEST(requirement_compile_test, AcceptedSpellings) {
  for (const char* text : {
           "identifier com.corvantix.app",
           "identifier = \"com.corvantix.app\"",
           "/* leading */ identifier /* inside */ a /* trailing */",
           "cert leaf[subject.CN] = \"a \\\"quoted\\\" name\"",
           "certificate 2[field.1.2.3] exists",
           "certificate root[subject.O]",
           "info[\"Key With Blanks\"] <= 3 or info[K] < 1 or info[K] > 1 or info[K] = x",
           "!!(anchor apple generic)",
       }) {
    EXPECT_TRUE(requirement_t::compile(text).has_value()) << text;
  }
}

TEST(requirement_compile_test, MalformedTextsDoNotCompile) {
  for (const char* text : {
           "",
           "/* only a comment */",
           "(identifier a",
           "identifier a)",
           "((identifier a)",
           "identifier \"a",
           "identifier a /* open",
           "frobnicate x",
           "identifier a b",
           "identifier a and",
           "and identifier a",
           "identifier a or or identifier b",
           "identifier a & identifier b",
           "identifier a && identifier b",
           "anchor apple",
           "anchor apple generic generic",
           "certificate[field.1.2.3]",
           "certificate x[field.1.2.3]",
           "certificate -1[field.1.2.3]",
           "certificate leaf[field.]",
           "certificate leaf[field.not.an.oid]",
           "certificate leaf[field.1.2.3] = x",
           "certificate leaf[subject.NOPE] = x",
           "certificate leaf[subject.OU] >= x",
           "certificate leaf[issuer.OU] = x",
           "certificate leaf[subject.OU =",
           "info[CFBundleShortVersionString] >=",
           "info[] exists",
           "info[k] != x",
           "!",
           "identifier a;",
       }) {
    EXPECT_FALSE(requirement_t::compile(text).has_value()) << text;
  }
}

// Evaluation on the fixtures' developer chain and a small information dictionary.
class requirement_eval_test : public testing::Test {
 protected:
  requirement_eval_test() {
    plist_dict_set_item(info_.get(), "CFBundleShortVersionString", plist_new_string("6.0.0"));
    plist_dict_set_item(info_.get(), "Build", plist_new_uint(42));
    plist_dict_set_item(info_.get(), "Flag", plist_new_bool(1));
  }

  bool holds(const std::string& text, std::string_view identifier = "a") const {
    const std::optional<requirement_t> requirement = requirement_t::compile(text);
    EXPECT_TRUE(requirement.has_value()) << text;
    const requirement_subject_t subject{identifier, chain_.get(), info_.get()};
    return requirement && requirement->is_satisfied_by(subject);
  }

  codesign_fixtures::chain_t developer_ = codesign_fixtures::make_developer_chain();
  openssl::x509_stack_ptr_t chain_ = make_full_chain();
  property_list::plist_ptr_t info_{plist_new_dict()};

 private:
  openssl::x509_stack_ptr_t make_full_chain() const {
    openssl::x509_stack_ptr_t chain(sk_X509_new_null());
    for (const auto* identity : {&developer_.leaf, &developer_.intermediate, &developer_.root}) {
      X509_up_ref(identity->certificate.get());
      sk_X509_push(chain.get(), identity->certificate.get());
    }
    return chain;
  }
};

TEST_F(requirement_eval_test, NotBindsTighterThanAndThanOr) {
  EXPECT_TRUE(holds("identifier a or identifier b and identifier c", "a"));
  EXPECT_FALSE(holds("(identifier a or identifier b) and identifier c", "a"));
  EXPECT_FALSE(holds("! identifier a and identifier b", "a"));
  EXPECT_TRUE(holds("! identifier a and identifier b", "b"));
  EXPECT_TRUE(holds("! identifier b or identifier b and identifier c", "a"));
  EXPECT_FALSE(holds("!(identifier a or identifier b)", "a"));
  EXPECT_TRUE(holds("!!identifier a", "a"));
  EXPECT_TRUE(holds("identifier x and identifier y or identifier a", "a"));
}

TEST_F(requirement_eval_test, IdentifierIsExact) {
  EXPECT_TRUE(holds("identifier \"com.corvantix.velmora-vl-5e3a07c4\"",
                    "com.corvantix.velmora-vl-5e3a07c4"));
  EXPECT_FALSE(holds("identifier com.corvantix.velmora", "com.corvantix.velmora-vl-5e3a07c4"));
  EXPECT_FALSE(holds("identifier com.corvantix.velmora-vl-5e3a07c4.Helper",
                     "com.corvantix.velmora-vl-5e3a07c4"));
}

TEST_F(requirement_eval_test, CertificatePositionsCountFromTheLeaf) {
  const std::string intermediate = codesign_fixtures::kIntermediateMarkerOid;
  const std::string leaf = codesign_fixtures::kLeafMarkerOid;
  EXPECT_TRUE(holds("certificate 1[field." + intermediate + "] /* exists */"));
  EXPECT_FALSE(holds("certificate 1[field." + leaf + "]"));
  EXPECT_TRUE(holds("certificate leaf[field." + leaf + "] exists"));
  EXPECT_TRUE(holds("certificate 0[field." + leaf + "]"));
  EXPECT_FALSE(holds("certificate root[field." + intermediate + "]"));
  EXPECT_TRUE(holds("certificate root[subject.CN] = \"Corvantix Test Root CA\""));
  EXPECT_TRUE(holds("certificate 2[subject.CN] = \"Corvantix Test Root CA\""));
  EXPECT_FALSE(holds("certificate 3[subject.CN]"));
}

TEST_F(requirement_eval_test, SubjectFields) {
  EXPECT_TRUE(holds("certificate leaf[subject.OU] = R4TQ8N2VXH"));
  EXPECT_TRUE(holds("certificate leaf[subject.OU] = \"R4TQ8N2VXH\""));
  EXPECT_FALSE(holds("certificate leaf[subject.OU] = R4TQ8N2VX"));
  EXPECT_FALSE(holds("certificate leaf[subject.OU] = r4tq8n2vxh"));
  EXPECT_TRUE(
      holds("certificate leaf[subject.CN] = \"Developer ID Application: Corvantix (R4TQ8N2VXH)\""));
  EXPECT_TRUE(holds("certificate leaf[subject.OU] exists"));
  EXPECT_FALSE(holds("certificate root[subject.OU]"));
}

TEST_F(requirement_eval_test, InfoValues) {
  EXPECT_TRUE(holds("info[CFBundleShortVersionString] >= \"6.0.0\""));
  EXPECT_TRUE(holds("info[CFBundleShortVersionString] >= 5.9.9"));
  EXPECT_FALSE(holds("info[CFBundleShortVersionString] >= 10.0"));
  EXPECT_TRUE(holds("info[CFBundleShortVersionString] < 10.0"));
  EXPECT_TRUE(holds("info[CFBundleShortVersionString] <= 6.0"));
  EXPECT_FALSE(holds("info[CFBundleShortVersionString] > 6.0"));
  EXPECT_TRUE(holds("info[CFBundleShortVersionString] = \"6.0.0\""));
  EXPECT_FALSE(holds("info[CFBundleShortVersionString] = \"6.0\""));
  EXPECT_TRUE(holds("info[Build] = 42 and info[Build] > 9"));
  EXPECT_TRUE(holds("info[Flag] exists"));
  EXPECT_FALSE(holds("info[Flag] = true or info[Flag] >= 0"));
  EXPECT_FALSE(holds("info[Missing] exists"));
  EXPECT_FALSE(holds("info[Missing] >= 0"));
  EXPECT_TRUE(holds("!info[Missing]"));
}

TEST_F(requirement_eval_test, NothingHoldsForCodeWithoutChainOrInfo) {
  const requirement_subject_t bare{"a", nullptr, nullptr};
  for (const char* text : {"anchor apple generic", "certificate leaf[subject.OU]",
                           "info[CFBundleShortVersionString] exists"}) {
    EXPECT_FALSE(requirement_t::compile(text)->is_satisfied_by(bare)) << text;
  }
  EXPECT_TRUE(holds("anchor apple generic"));
}

}  // namespace
}  // namespace platform
