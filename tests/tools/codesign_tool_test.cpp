#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "tests/platform/security/signed_bundle_fixture.h"

namespace codesign_fixtures {
namespace {

struct tool_result_t {
  int status = -1;
  std::string output;  // standard output and error together
};

std::string quoted(const std::string& word) {
  std::string text = "'";
  for (const char c : word)
    text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

tool_result_t run_program(const std::string& program, const std::vector<std::string>& arguments) {
  std::string command = quoted(program);
  for (const std::string& argument : arguments)
    command += " " + quoted(argument);
  command += " 2>&1";
  tool_result_t result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    result.output += buffer;
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

tool_result_t run_tool(const std::vector<std::string>& arguments) {
  return run_program(VELMORA_CODESIGN_TOOL, arguments);
}

class codesign_tool_test : public signed_bundle_test_t {
 protected:
  void SetUp() override {
    signed_bundle_test_t::SetUp();
    leaf_ = scratch_.path() / "leaf.pem";
    key_ = scratch_.path() / "leaf.key";
    intermediate_ = scratch_.path() / "intermediate.pem";
    ASSERT_TRUE(write_certificate_pem(leaf_, chain_.leaf.certificate.get()));
    ASSERT_TRUE(write_key_pem(key_, chain_.leaf.key.get()));
    ASSERT_TRUE(write_certificate_pem(intermediate_, chain_.intermediate.certificate.get()));
  }

  tool_result_t sign() const {
    return run_tool({"--sign", "--cert", leaf_, "--key", key_, "--chain", intermediate_,
                     "--identifier", kSigningIdentifier, bundle_});
  }

  tool_result_t verify(const std::string& requirement) const {
    return run_tool({"--verify", "-R", requirement, "--anchors", anchors_, bundle_});
  }

  std::filesystem::path leaf_, key_, intermediate_;
};

TEST_F(codesign_tool_test, SignedBundleVerifies) {
  const tool_result_t signing = sign();
  ASSERT_EQ(signing.status, 0) << signing.output;
  EXPECT_TRUE(std::filesystem::exists(bundle_ / "Contents/_CodeSignature/CodeSignature"));
  const tool_result_t verified = verify(kClientRequirement);
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess);
}

TEST_F(codesign_tool_test, VerifyPrintsWhyItFails) {
  tool_result_t result = verify(kClientRequirement);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("not signed"), std::string::npos) << result.output;

  ASSERT_EQ(sign().status, 0);
  result = verify("identifier com.corvantix.other");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("requirement"), std::string::npos) << result.output;

  result = verify("identifier (");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("does not compile: offset 11: expected a constant"),
            std::string::npos)
      << result.output;

  result = run_tool({"--verify", "--anchors", (scratch_.path() / "none").string(), bundle_});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("not trusted"), std::string::npos) << result.output;
}

// What a developer writes in the documented language, on a bundle signed by the test identity.
TEST_F(codesign_tool_test, DocumentedRequirementsVerify) {
  ASSERT_EQ(sign().status, 0);
  const std::string root_sha1 =
      hex(platform::certificate_digest(chain_.root.certificate.get(), EVP_sha1()));
  for (const std::string& text : {
           std::string("always"),
           std::string("anchor trusted and anchor apple generic"),
           "certificate root = H\"" + root_sha1 + "\"",
           "anchor = H\"" + root_sha1 + "\"",
           std::string("info[CFBundleIdentifier] = com.corvantix.* and !entitlement[x] exists"),
           std::string("certificate leaf[subject.CN] = \"Developer ID Application:\"*"),
       }) {
    const tool_result_t result = verify(text);
    EXPECT_EQ(result.status, 0) << text << "\n" << result.output;
  }
  for (const char* text : {"never", "anchor apple", "certificate leaf trusted"}) {
    EXPECT_EQ(verify(text).status, 1) << text;
  }
}

TEST_F(codesign_tool_test, IncompleteCommandsAreRefused) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {},
           {"--sign", "--cert", leaf_, "--identifier", "x", bundle_},
           {"--sign", "--verify", bundle_},
           {"--verify"},
           {"--verify", bundle_, "second.app"},
           {"--verify", "-R"},
       }) {
    const tool_result_t result = run_tool(arguments);
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("usage"), std::string::npos) << result.output;
  }
  EXPECT_FALSE(std::filesystem::exists(bundle_ / "Contents/_CodeSignature"));
}

// The way scripts sign a client: a written signing identity, the signing tool, the anchor copied.
TEST_F(codesign_tool_test, WrittenIdentitySignsForScripts) {
  const std::filesystem::path identity = scratch_.path() / "identity";
  const tool_result_t written = run_program(VELMORA_SIGNING_IDENTITY_TOOL, {identity});
  ASSERT_EQ(written.status, 0) << written.output;
  EXPECT_EQ(std::filesystem::status(identity / "leaf.key").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
      << "a private key is its owner's alone";
  const tool_result_t signing = run_tool(
      {"--sign", "--cert", identity / "leaf.pem", "--key", identity / "leaf.key", "--chain",
       identity / "intermediate.pem", "--identifier", kSigningIdentifier, bundle_});
  ASSERT_EQ(signing.status, 0) << signing.output;
  EXPECT_EQ(verify(kClientRequirement).status, 1);  // its root is not trusted yet
  std::filesystem::copy_file(identity / "root.pem", anchors_ / "identity.pem");
  const tool_result_t verified = verify(kClientRequirement);
  EXPECT_EQ(verified.status, 0) << verified.output;
}

}  // namespace
}  // namespace codesign_fixtures
