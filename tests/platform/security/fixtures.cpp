#include "tests/platform/security/fixtures.h"

#include <fcntl.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <string_view>
#include <system_error>

#include "platform/security/bundle_signing.h"

namespace codesign_fixtures {

namespace openssl = platform::openssl;

namespace {

constexpr long kValiditySeconds = 365L * 24 * 3600;

void add_name_entry(X509_NAME* name, const char* field, const std::string& value) {
  if (value.empty()) return;
  X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0);
}

using extension_ptr_t = std::unique_ptr<X509_EXTENSION, openssl::deleter_t<X509_EXTENSION_free>>;
using object_ptr_t = std::unique_ptr<ASN1_OBJECT, openssl::deleter_t<ASN1_OBJECT_free>>;
using octets_ptr_t = std::unique_ptr<ASN1_OCTET_STRING, openssl::deleter_t<ASN1_OCTET_STRING_free>>;

void add_extension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const extension_ptr_t extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  X509_add_ext(certificate, extension.get(), -1);
}

// A non-critical extension whose value is DER NULL: only its presence matters.
void add_marker(X509* certificate, const std::string& oid) {
  static const unsigned char kDerNull[] = {0x05, 0x00};
  const object_ptr_t object(OBJ_txt2obj(oid.c_str(), 1));
  const octets_ptr_t value(ASN1_OCTET_STRING_new());
  ASN1_OCTET_STRING_set(value.get(), kDerNull, sizeof kDerNull);
  const extension_ptr_t extension(
      X509_EXTENSION_create_by_OBJ(nullptr, object.get(), 0, value.get()));
  X509_add_ext(certificate, extension.get(), -1);
}

// Loader settings of the test run itself must not reach the clients: the checks refuse them.
bool is_loader_override(std::string_view entry) {
  return entry.starts_with("LD_PRELOAD=") || entry.starts_with("LD_AUDIT=") ||
         entry.starts_with("LD_LIBRARY_PATH=");
}

long next_serial() {
  static long serial = 1;
  return ++serial;
}

// The client program writes one byte once it runs.
bool wait_until_running(int output) {
  char ready = 0;
  return ::read(output, &ready, 1) == 1;
}

}  // namespace

identity_t make_identity(const certificate_plan_t& plan, const identity_t* issuer) {
  identity_t identity{openssl::x509_ptr_t(X509_new()),
                      openssl::evp_pkey_ptr_t(EVP_EC_gen("P-256"))};
  X509* certificate = identity.certificate.get();
  X509_set_version(certificate, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), next_serial());
  X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate), kValiditySeconds);
  X509_NAME* subject = X509_get_subject_name(certificate);
  add_name_entry(subject, "CN", plan.common_name);
  add_name_entry(subject, "OU", plan.organizational_unit);
  add_name_entry(subject, "O", "Corvantix");
  X509* issuer_certificate = issuer ? issuer->certificate.get() : certificate;
  X509_set_issuer_name(certificate, X509_get_subject_name(issuer_certificate));
  X509_set_pubkey(certificate, identity.key.get());
  add_extension(certificate, issuer_certificate, NID_basic_constraints,
                plan.authority ? "critical,CA:TRUE" : "critical,CA:FALSE");
  add_extension(certificate, issuer_certificate, NID_key_usage,
                plan.authority ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  add_extension(certificate, issuer_certificate, NID_subject_key_identifier, "hash");
  for (const std::string& oid : plan.marker_oids)
    add_marker(certificate, oid);
  EVP_PKEY* signing_key = issuer ? issuer->key.get() : identity.key.get();
  X509_sign(certificate, signing_key, EVP_sha256());
  return identity;
}

platform::signing_identity_t chain_t::signing_identity() const {
  return {leaf.certificate.get(), leaf.key.get(), intermediates.get()};
}

chain_t make_developer_chain(const chain_options_t& options) {
  chain_t chain;
  chain.root = make_identity({"Corvantix Test Root CA", "", true, {}}, nullptr);
  std::vector<std::string> intermediate_markers;
  if (options.intermediate_marker) intermediate_markers.push_back(kIntermediateMarkerOid);
  chain.intermediate = make_identity(
      {"Corvantix Test Developer ID CA", "", true, intermediate_markers}, &chain.root);
  std::vector<std::string> leaf_markers;
  if (options.leaf_marker) leaf_markers.push_back(kLeafMarkerOid);
  const std::string common_name = "Developer ID Application: Corvantix (" + options.team + ")";
  chain.leaf = make_identity({common_name, options.team, false, leaf_markers}, &chain.intermediate);
  chain.intermediates.reset(sk_X509_new_null());
  X509_up_ref(chain.intermediate.certificate.get());
  sk_X509_push(chain.intermediates.get(), chain.intermediate.certificate.get());
  return chain;
}

bool write_certificate_pem(const std::filesystem::path& path, X509* certificate) {
  openssl::bio_ptr_t bio(BIO_new_file(path.c_str(), "w"));
  return bio && PEM_write_bio_X509(bio.get(), certificate) == 1;
}

// A private key is readable by its owner alone from the moment it exists, whatever the umask.
bool write_key_pem(const std::filesystem::path& path, EVP_PKEY* key) {
  const platform::unique_fd_t fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd || ::fchmod(fd.get(), 0600) != 0) return false;
  openssl::bio_ptr_t bio(BIO_new_fd(fd.get(), BIO_NOCLOSE));
  return bio &&
         PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
         BIO_flush(bio.get()) == 1;
}

bool write_trust_anchor(const std::filesystem::path& directory, const chain_t& chain) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  return !error && write_certificate_pem(directory / "root.pem", chain.root.certificate.get());
}

std::filesystem::path client_program_path() {
  return VELMORA_CODESIGN_CLIENT_PROGRAM;
}

std::filesystem::path main_executable(const std::filesystem::path& bundle,
                                      const std::string& name) {
  return bundle / "Contents" / "MacOS" / name;
}

std::filesystem::path make_bundle(const std::filesystem::path& directory,
                                  const bundle_plan_t& plan) {
  std::filesystem::path bundle = directory / (plan.name + ".app");
  const std::filesystem::path executable = main_executable(bundle, plan.name);
  std::filesystem::create_directories(executable.parent_path());
  std::filesystem::copy_file(plan.executable_source, executable,
                             std::filesystem::copy_options::overwrite_existing);
  if (plan.executable_size > std::filesystem::file_size(executable)) {
    std::filesystem::resize_file(executable, plan.executable_size);
  }
  std::ofstream(bundle / "Contents" / "Info.plist")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n"
         "\t<key>CFBundleExecutable</key>\n\t<string>"
      << plan.name
      << "</string>\n"
         "\t<key>CFBundleIdentifier</key>\n\t<string>"
      << kSigningIdentifier
      << "</string>\n"
         "\t<key>CFBundleShortVersionString</key>\n\t<string>"
      << plan.short_version << "</string>\n</dict>\n</plist>\n";
  return bundle;
}

bool sign_bundle(const std::filesystem::path& bundle, const chain_t& chain,
                 const std::string& identifier) {
  std::string error;
  return platform::sign_bundle(bundle, identifier, chain.signing_identity(), error);
}

std::optional<client_process_t> client_process_t::start(const std::filesystem::path& executable,
                                                        const std::vector<std::string>& environment,
                                                        const std::filesystem::path& replacement) {
  int input[2];
  int output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return std::nullopt;
  platform::unique_fd_t input_read(input[0]), input_write(input[1]);
  if (::pipe2(output, O_CLOEXEC) != 0) return std::nullopt;
  platform::unique_fd_t output_read(output[0]), output_write(output[1]);

  std::vector<std::string> entries(environment);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!is_loader_override(*entry)) entries.emplace_back(*entry);
  }
  std::vector<char*> envp;
  envp.reserve(entries.size() + 1);
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = executable.string();
  std::string replacement_program = replacement.string();
  char* argv[] = {program.data(), replacement.empty() ? nullptr : replacement_program.data(),
                  nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_read.get(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output_write.get(), STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  client_process_t client(pid, std::move(input_write), std::move(output_read));
  output_write.reset();
  if (!wait_until_running(client.output_.get())) return std::nullopt;
  return client;
}

bool client_process_t::execute_replacement() {
  const char request = 'x';
  return ::write(input_.get(), &request, 1) == 1 && wait_until_running(output_.get());
}

client_process_t::client_process_t(client_process_t&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)) {}

client_process_t::~client_process_t() {
  if (pid_ <= 0) return;
  input_.reset();
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

std::optional<platform::process_ref_t> client_process_t::reference() const {
  return platform::process_ref_t::of_pid(pid_);
}

}  // namespace codesign_fixtures
