#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/security/certificate_fields.h"
#include "platform/security/digest.h"
#include "platform/security/hex_text.h"
#include "tests/platform/security/signed_bundle_fixture.h"
#include "tests/support/files.h"

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

class CodesignToolTest : public signed_bundle_test_t {
 protected:
  void SetUp() override {
    signed_bundle_test_t::SetUp();
    leaf_ = scratch_.path("leaf.pem");
    key_ = scratch_.path("leaf.key");
    intermediate_ = scratch_.path("intermediate.pem");
    ASSERT_TRUE(write_certificate_pem(leaf_, chain_.leaf.certificate.get()));
    ASSERT_TRUE(write_key_pem(key_, chain_.leaf.key.get()));
    ASSERT_TRUE(write_certificate_pem(intermediate_, chain_.intermediate.certificate.get()));
  }

  tool_result_t sign(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> arguments = {"--sign",      "--cert",       leaf_,
                                          "--key",       key_,           "--chain",
                                          intermediate_, "--identifier", kSigningIdentifier};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(bundle_);
    return run_tool(arguments);
  }

  tool_result_t display(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> arguments = {"--display", "--anchors", anchors_};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(bundle_);
    return run_tool(arguments);
  }

  std::filesystem::path write_entitlements(const std::string& body) const {
    std::filesystem::path path = scratch_.path("entitlements.plist");
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                        << body << "</plist>\n";
    return path;
  }

  // The value of a "Name=value" line of --display.
  static std::string field(const std::string& output, const std::string& name) {
    const std::size_t at = output.find("\n" + name + "=");
    if (at == std::string::npos) return "(no " + name + ")";
    const std::size_t start = at + name.size() + 2;
    return output.substr(start, output.find('\n', start) - start);
  }

  tool_result_t verify(const std::string& requirement) const {
    return run_tool({"--verify", "-R", requirement, "--anchors", anchors_, bundle_});
  }

  std::filesystem::path leaf_, key_, intermediate_;
};

TEST_F(CodesignToolTest, SignedBundleVerifies) {
  const tool_result_t signing = sign();
  ASSERT_EQ(signing.status, 0) << signing.output;
  EXPECT_TRUE(std::filesystem::exists(bundle_ / "Contents/_CodeSignature/CodeSignature"));
  const tool_result_t verified = verify(kClientRequirement);
  EXPECT_EQ(verified.status, 0) << verified.output;
  EXPECT_EQ(check_on_disk(&client_requirement_).status, platform::errSecSuccess);
}

TEST_F(CodesignToolTest, VerifyPrintsWhyItFails) {
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

  result = run_tool({"--verify", "--anchors", scratch_.path("none"), bundle_});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("not trusted"), std::string::npos) << result.output;
}

// What a developer writes in the documented language, on a bundle signed by the test identity.
TEST_F(CodesignToolTest, DocumentedRequirementsVerify) {
  ASSERT_EQ(sign().status, 0);
  const std::string root_sha1 =
      platform::hex_text(platform::certificate_digest(chain_.root.certificate.get(), EVP_sha1()));
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

// The known signature: the fixtures' developer chain over the fixtures' bundle, with entitlements.
TEST_F(CodesignToolTest, DisplayShowsWhatWasSigned) {
  const std::filesystem::path entitlements =
      write_entitlements("<dict><key>com.corvantix.helper</key><true/></dict>");
  ASSERT_EQ(sign({"--entitlements", entitlements}).status, 0);
  const tool_result_t shown = display();
  ASSERT_EQ(shown.status, 0) << shown.output;
  const std::string& output = shown.output;
  EXPECT_TRUE(output.starts_with("Executable=" + main_executable(bundle_).string() + "\n"))
      << output;
  EXPECT_EQ(field(output, "Identifier"), kSigningIdentifier);
  EXPECT_EQ(field(output, "TeamIdentifier"), kTeamIdentifier);
  const std::optional<platform::sha256_t> executable_digest = platform::sha256_of_file(
      platform::unique_fd_t(::open(main_executable(bundle_).c_str(), O_RDONLY)).get());
  ASSERT_TRUE(executable_digest.has_value());
  EXPECT_EQ(field(output, "ExecutableDigest"),
            "sha256:" +
                platform::hex_text({reinterpret_cast<const char*>(executable_digest->data()), 32}));
  EXPECT_EQ(field(output, "Certificate 0 (leaf)").find("CN = " + std::string(kLeafCommonName)), 0u);
  EXPECT_EQ(field(output, "Certificate 1").find("CN = Corvantix Test Developer ID CA"), 0u);
  EXPECT_EQ(field(output, "Certificate 2 (anchor)").find("CN = Corvantix Test Root CA"), 0u);
  for (const identity_t* identity : {&chain_.leaf, &chain_.intermediate, &chain_.root}) {
    X509* certificate = identity->certificate.get();
    EXPECT_NE(output.find("  SHA-1=" + platform::hex_text(
                                           platform::certificate_digest(certificate, EVP_sha1()))),
              std::string::npos);
    EXPECT_NE(output.find("  SHA-256=" + platform::hex_text(platform::certificate_digest(
                                             certificate, EVP_sha256()))),
              std::string::npos);
  }
  EXPECT_NE(output.find("  Validity=20"), std::string::npos) << output;
  EXPECT_NE(output.find("<key>com.corvantix.helper</key>"), std::string::npos) << output;
  EXPECT_EQ(verify("entitlement[\"com.corvantix.helper\"] exists").status, 0);
  EXPECT_EQ(verify("entitlement[\"com.corvantix.other\"] exists").status, 1);

  // The code directory hash shown is the one "cdhash" tests, in full or cut to 20 bytes.
  std::string cdhash = field(output, "CDHash");
  ASSERT_EQ(cdhash.size(), 64u) << output;
  EXPECT_EQ(verify("cdhash H\"" + cdhash + "\"").status, 0);
  EXPECT_EQ(verify("cdhash H\"" + cdhash.substr(0, 40) + "\"").status, 0);
  cdhash[0] = cdhash[0] == '0' ? '1' : '0';
  EXPECT_EQ(verify("cdhash H\"" + cdhash + "\"").status, 1);
}

TEST_F(CodesignToolTest, DesignatedRequirementCompilesBackAndIsSatisfied) {
  ASSERT_EQ(sign().status, 0);
  tool_result_t shown = display({"-r-"});
  ASSERT_EQ(shown.status, 0) << shown.output;
  const std::string designated =
      "identifier \"com.corvantix.velmora-vl-5e3a07c4\" and anchor apple generic and "
      "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
      "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and "
      "certificate leaf[subject.OU] = R4TQ8N2VXH\n";
  EXPECT_EQ(shown.output, designated);
  EXPECT_NE(display().output.find("\ndesignated => " + designated), std::string::npos);
  EXPECT_EQ(verify(designated).status, 0);

  // A requirement given at signing is recorded in its canonical form.
  ASSERT_EQ(sign({"-r", "(identifier \"com.corvantix.other\" or always) // mine"}).status, 0);
  shown = display({"-r-"});
  EXPECT_EQ(shown.output, "identifier \"com.corvantix.other\" or always\n");
  const std::optional<platform::requirement_t> compiled =
      platform::requirement_t::compile(shown.output);
  ASSERT_TRUE(compiled.has_value());
  EXPECT_EQ(compiled->canonical_text() + "\n", shown.output);
}

TEST_F(CodesignToolTest, BadDeclarationsAreRefused) {
  tool_result_t result = sign({"-r", "identifier ("});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("designated requirement does not compile: offset 11"),
            std::string::npos)
      << result.output;
  result = sign({"--entitlements", write_entitlements("<array/>")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("not a property list dictionary"), std::string::npos);
  result = sign({"--entitlements", scratch_.path("missing.plist")});
  EXPECT_EQ(result.status, 1);
  EXPECT_FALSE(std::filesystem::exists(bundle_ / "Contents/_CodeSignature"));
  result = display();
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("not signed"), std::string::npos);
}

TEST_F(CodesignToolTest, IncompleteCommandsAreRefused) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {},
           {"--sign", "--cert", leaf_, "--identifier", "x", bundle_},
           {"--sign", "--verify", bundle_},
           {"--verify"},
           {"--verify", bundle_, "second.app"},
           {"--verify", "-R"},
           {"--display", "--verify", bundle_},
           {"--verify", "-r-", bundle_},
       }) {
    const tool_result_t result = run_tool(arguments);
    EXPECT_EQ(result.status, 64) << result.output;
    EXPECT_NE(result.output.find("usage"), std::string::npos) << result.output;
  }
  EXPECT_FALSE(std::filesystem::exists(bundle_ / "Contents/_CodeSignature"));
}

bool run_openssl(const std::vector<std::string>& arguments) {
  const tool_result_t result = run_program("/usr/bin/openssl", arguments);
  EXPECT_EQ(result.status, 0) << result.output;
  return result.status == 0;
}

// A root and a developer authority made by the openssl command line the way an issuing
// authority makes them: the intermediate's marker extension critical.
class openssl_authority_t {
 public:
  explicit openssl_authority_t(const std::filesystem::path& directory) : directory_(directory) {
    std::filesystem::create_directories(directory);
    write(config_, "[req]\ndistinguished_name = name\n[name]\n");
    write(directory / "authority.ext",
          "basicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
          "subjectKeyIdentifier = hash\n1.2.840.113635.100.6.2.6 = critical,DER:05:00\n");
    ready_ =
        run_openssl(with_new_key({"req", "-x509", "-subj", "/O=Corvantix/CN=CLI Root CA", "-days",
                                  "30", "-keyout", path("root.key"), "-out", path("root.pem")})) &&
        issue("intermediate", "/O=Corvantix/CN=CLI Developer ID CA", "root", "authority.ext");
  }

  bool ready() const { return ready_; }
  std::filesystem::path root() const { return directory_ / "root.pem"; }
  std::filesystem::path intermediate() const { return directory_ / "intermediate.pem"; }

  // A developer's leaf with these extension lines; name.pem and name.key.
  bool issue_leaf(const std::string& name, const std::string& extensions) const {
    write(directory_ / (name + ".ext"),
          "basicConstraints = critical,CA:FALSE\nkeyUsage = critical,digitalSignature\n"
          "extendedKeyUsage = critical,codeSigning\n" +
              extensions);
    return issue(name, std::string("/O=Corvantix/OU=") + kTeamIdentifier + "/CN=" + kLeafCommonName,
                 "intermediate", name + ".ext");
  }

 private:
  static void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
  }
  std::string path(const std::string& name) const { return (directory_ / name).string(); }
  std::vector<std::string> with_new_key(std::vector<std::string> arguments) const {
    arguments.insert(arguments.end(), {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                       "-nodes", "-config", config_.string()});
    return arguments;
  }
  bool issue(const std::string& name, const std::string& subject, const std::string& issuer,
             const std::string& extensions) const {
    return run_openssl(with_new_key({"req", "-new", "-subj", subject, "-keyout",
                                     path(name + ".key"), "-out", path(name + ".csr")})) &&
           run_openssl({"x509", "-req", "-in", path(name + ".csr"), "-CA", path(issuer + ".pem"),
                        "-CAkey", path(issuer + ".key"), "-set_serial", std::to_string(++serial_),
                        "-days", "30", "-extfile", path(extensions), "-out", path(name + ".pem")});
  }

  std::filesystem::path directory_;
  std::filesystem::path config_ = directory_ / "openssl.cnf";
  mutable int serial_ = 1;
  bool ready_ = false;
};

// Issuing authorities mark the code-signing markers critical; only those two are handled, each
// in its own place.
TEST_F(CodesignToolTest, IdentityOfTheOpensslCommandLineWithCriticalMarkersVerifies) {
  const openssl_authority_t authority(scratch_.path("openssl"));
  ASSERT_TRUE(authority.ready());
  std::filesystem::create_directories(scratch_.path("openssl-anchors"));
  std::filesystem::copy_file(authority.root(), scratch_.path("openssl-anchors/root.pem"));
  constexpr const char* leaf_marker = "1.2.840.113635.100.6.1.13 = critical,DER:05:00\n";
  const struct {
    const char* name;
    std::string leaf_extensions;
    bool verifies;
  } cases[] = {
      {"markers", leaf_marker, true},
      {"unknown", std::string(leaf_marker) + "1.3.6.1.4.1.57264.9 = critical,DER:05:00\n", false},
      {"misplaced", std::string(leaf_marker) + "1.2.840.113635.100.6.2.6 = critical,DER:05:00\n",
       false},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.name);
    ASSERT_TRUE(authority.issue_leaf(item.name, item.leaf_extensions));
    const std::filesystem::path leaf = scratch_.path("openssl/" + std::string(item.name));
    const tool_result_t signing = run_tool(
        {"--sign", "--cert", leaf.string() + ".pem", "--key", leaf.string() + ".key", "--chain",
         authority.intermediate(), "--identifier", kSigningIdentifier, bundle_});
    ASSERT_EQ(signing.status, 0) << signing.output;
    const tool_result_t verified = run_tool({"--verify", "-R", kClientRequirement, "--anchors",
                                             scratch_.path("openssl-anchors"), bundle_});
    EXPECT_EQ(verified.status, item.verifies ? 0 : 1) << verified.output;
    if (!item.verifies) {
      EXPECT_NE(verified.output.find("unhandled critical extension"), std::string::npos)
          << verified.output;
    }
  }
}

// The way scripts sign a client: a written signing identity, the signing tool, the anchor copied.
TEST_F(CodesignToolTest, WrittenIdentitySignsForScripts) {
  const std::filesystem::path identity = scratch_.path("identity");
  // A key written over one that everybody could read, under a umask that lets everybody read.
  std::filesystem::create_directory(identity);
  ASSERT_TRUE(test_support::write_text(identity / "leaf.key", "old key\n", 0777));
  const tool_result_t written = run_program(
      "/bin/sh", {"-c", "umask 0; exec \"$0\" \"$1\"", VELMORA_SIGNING_IDENTITY_TOOL, identity});
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
