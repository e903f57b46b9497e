#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "platform/security/code_signature.h"
#include "platform/security/openssl_handles.h"
#include "platform/security/process_ref.h"
#include "tests/support/scratch_directory.h"

// Signing material and signed client bundles made at test time, for the code-signing tests, the
// listener's tests and the demo.
namespace codesign_fixtures {

inline constexpr const char* kIntermediateMarkerOid = "1.2.840.113635.100.6.2.6";
inline constexpr const char* kLeafMarkerOid = "1.2.840.113635.100.6.1.13";
inline constexpr const char* kTeamIdentifier = "R4TQ8N2VXH";
inline constexpr const char* kLeafCommonName = "Developer ID Application: Corvantix (R4TQ8N2VXH)";
inline constexpr const char* kSigningIdentifier = "com.corvantix.velmora-vl-5e3a07c4";
// The service's client requirement, 16 blanks after the quoted identifier included.
inline constexpr const char* kClientRequirement =
    "identifier \"com.corvantix.velmora-vl-5e3a07c4\"                and anchor apple generic and "
    "certificate 1[field.1.2.840.113635.100.6.2.6] /* exists */ and "
    "certificate leaf[field.1.2.840.113635.100.6.1.13] /* exists */ and "
    "certificate leaf[subject.OU] = R4TQ8N2VXH and info[CFBundleShortVersionString] >= \"6.0.0\"";

struct identity_t {
  platform::openssl::x509_ptr_t certificate;
  platform::openssl::evp_pkey_ptr_t key;
};

struct certificate_plan_t {
  std::string common_name;
  std::string organizational_unit;  // none when empty
  bool authority = false;
  std::vector<std::string> marker_oids;  // extensions present with a DER NULL value
};

// A certificate with a fresh P-256 key, signed by the issuer (self-signed without one).
identity_t make_identity(const certificate_plan_t& plan, const identity_t* issuer);

struct chain_options_t {
  std::string team = kTeamIdentifier;
  bool intermediate_marker = true;
  bool leaf_marker = true;
};

// Root authority, intermediate and leaf, the way a developer's signing identity comes.
struct chain_t {
  identity_t root;
  identity_t intermediate;
  identity_t leaf;
  platform::openssl::x509_stack_ptr_t intermediates;  // the intermediate, for the signature

  platform::signing_identity_t signing_identity() const;
};

chain_t make_developer_chain(const chain_options_t& options = {});

bool write_certificate_pem(const std::filesystem::path& path, X509* certificate);
bool write_key_pem(const std::filesystem::path& path, EVP_PKEY* key);
// A directory holding root.pem, the trust anchor of the chain.
bool write_trust_anchor(const std::filesystem::path& directory, const chain_t& chain);

// The small client program: writes one byte when it runs, then waits until standard input ends.
// Given a program path as its argument, it executes that program when a byte arrives.
std::filesystem::path client_program_path();

struct bundle_plan_t {
  std::string name = "Velmora";  // the bundle is <name>.app, its executable <name>
  std::string short_version = "6.0.0";
  std::filesystem::path executable_source = client_program_path();
  std::size_t executable_size = 0;  // zero bytes appended up to this size when it is larger
};

// Writes <directory>/<name>.app with Info.plist and the main executable; returns its path.
std::filesystem::path make_bundle(const std::filesystem::path& directory,
                                  const bundle_plan_t& plan = {});
std::filesystem::path main_executable(const std::filesystem::path& bundle,
                                      const std::string& name = "Velmora");
bool sign_bundle(const std::filesystem::path& bundle, const chain_t& chain,
                 const std::string& identifier = kSigningIdentifier);

// A client started from an executable. It is killed and reaped when the object goes.
class client_process_t {
 public:
  // environment: extra NAME=VALUE entries; replacement: the program to execute on request.
  // Returns once the program runs.
  static std::optional<client_process_t> start(const std::filesystem::path& executable,
                                               const std::vector<std::string>& environment = {},
                                               const std::filesystem::path& replacement = {});
  client_process_t(client_process_t&& other) noexcept;
  client_process_t& operator=(client_process_t&&) = delete;
  ~client_process_t();

  pid_t pid() const { return pid_; }
  std::optional<platform::process_ref_t> reference() const;
  // Makes the client execute its replacement program; true once that program runs.
  bool execute_replacement();

 private:
  client_process_t(pid_t pid, platform::unique_fd_t input, platform::unique_fd_t output)
      : pid_(pid), input_(std::move(input)), output_(std::move(output)) {}

  pid_t pid_;
  platform::unique_fd_t input_;
  platform::unique_fd_t output_;
};

using scratch_directory_t = test_support::scratch_directory_t;

}  // namespace codesign_fixtures
