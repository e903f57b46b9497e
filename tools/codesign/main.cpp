// velmora-codesign: signs application bundles, checks them on disk and shows what they carry.
//
//   velmora-codesign --sign --cert LEAF.pem --key LEAF.key [--chain CA.pem]... --identifier ID
//                    [--entitlements FILE] [-r REQUIREMENT] B.app
//   velmora-codesign --verify [-R REQUIREMENT] [--anchors DIR] B.app
//   velmora-codesign --display [-r-] [--anchors DIR] B.app
#include <fcntl.h>
#include <openssl/pem.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/command_line.h"
#include "platform/foundation/property_list.h"
#include "platform/security/bundle.h"
#include "platform/security/bundle_signing.h"
#include "platform/security/bundle_validation.h"
#include "platform/security/code_signing.h"
#include "platform/security/file_bytes.h"
#include "platform/security/trust_store.h"
#include "tools/codesign/display.h"

namespace {

namespace openssl = platform::openssl;

struct options_t {
  bool sign = false;
  bool verify = false;
  bool display = false;
  bool requirement_only = false;  // -r- with --display
  std::string entitlements;
  std::string designated_requirement;
  std::string certificate;
  std::string key;
  std::vector<std::string> chain;
  std::string identifier;
  std::optional<std::string> requirement;
  std::string anchors{platform::kTrustAnchorDirectory};
  std::string bundle;
};

const platform::command_line::syntax_t syntax{
    "usage: velmora-codesign --sign --cert LEAF.pem --key LEAF.key [--chain CA.pem]... "
    "--identifier ID [--entitlements FILE] [-r REQUIREMENT] BUNDLE.app\n"
    "       velmora-codesign --verify [-R REQUIREMENT] [--anchors DIR] BUNDLE.app\n"
    "       velmora-codesign --display [-r-] [--anchors DIR] BUNDLE.app\n",
    {"--sign", "--verify", "--display", "-r-"},
    {"-r", "--entitlements", "--cert", "--key", "--chain", "--identifier", "-R", "--anchors"}};

std::optional<options_t> parse_options(int argc, char** argv) {
  options_t options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "--sign") {
      options.sign = true;
    } else if (argument == "--verify") {
      options.verify = true;
    } else if (argument == "--display") {
      options.display = true;
    } else if (argument == "-r-") {
      options.requirement_only = true;
    } else if (argument == "-r" && has_value) {
      options.designated_requirement = argv[++i];
    } else if (argument == "--entitlements" && has_value) {
      options.entitlements = argv[++i];
    } else if (argument == "--cert" && has_value) {
      options.certificate = argv[++i];
    } else if (argument == "--key" && has_value) {
      options.key = argv[++i];
    } else if (argument == "--chain" && has_value) {
      options.chain.push_back(argv[++i]);
    } else if (argument == "--identifier" && has_value) {
      options.identifier = argv[++i];
    } else if (argument == "-R" && has_value) {
      options.requirement = argv[++i];
    } else if (argument == "--anchors" && has_value) {
      options.anchors = argv[++i];
    } else if (!argument.starts_with("-") && options.bundle.empty()) {
      options.bundle = argument;
    } else {
      return std::nullopt;
    }
  }
  const bool sign_complete =
      !options.certificate.empty() && !options.key.empty() && !options.identifier.empty();
  const int modes = int{options.sign} + int{options.verify} + int{options.display};
  if (options.bundle.empty() || modes != 1 || (options.sign && !sign_complete) ||
      (options.requirement_only && !options.display)) {
    return std::nullopt;
  }
  return options;
}

openssl::x509_ptr_t read_certificate(const std::string& path) {
  openssl::bio_ptr_t bio(BIO_new_file(path.c_str(), "r"));
  return openssl::x509_ptr_t(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                 : nullptr);
}

openssl::evp_pkey_ptr_t read_key(const std::string& path) {
  openssl::bio_ptr_t bio(BIO_new_file(path.c_str(), "r"));
  return openssl::evp_pkey_ptr_t(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                                     : nullptr);
}

int fail(const std::string& message) {
  std::fprintf(stderr, "velmora-codesign: %s\n", message.c_str());
  return 1;
}

int sign(const options_t& options) {
  const openssl::x509_ptr_t leaf = read_certificate(options.certificate);
  if (!leaf) return fail("cannot read the certificate " + options.certificate);
  const openssl::evp_pkey_ptr_t key = read_key(options.key);
  if (!key) return fail("cannot read the private key " + options.key);
  openssl::x509_stack_ptr_t chain(sk_X509_new_null());
  for (const std::string& path : options.chain) {
    openssl::x509_ptr_t certificate = read_certificate(path);
    if (!certificate || sk_X509_push(chain.get(), certificate.get()) == 0) {
      return fail("cannot read the chain certificate " + path);
    }
    static_cast<void>(certificate.release());  // the stack owns it now
  }
  platform::signing_declarations_t declarations{{}, options.designated_requirement};
  if (!options.entitlements.empty()) {
    std::optional<std::string> entitlements =
        platform::read_file_bytes(AT_FDCWD, options.entitlements.c_str());
    if (!entitlements) return fail("cannot read the entitlements " + options.entitlements);
    declarations.entitlements = std::move(*entitlements);
  }
  std::string error;
  const platform::signing_identity_t identity{leaf.get(), key.get(), chain.get()};
  if (!platform::sign_bundle(options.bundle, options.identifier, identity, error, declarations)) {
    return fail(options.bundle + ": " + error);
  }
  std::printf("%s: signed as %s\n", options.bundle.c_str(), options.identifier.c_str());
  return 0;
}

int verify(const options_t& options) {
  std::optional<platform::requirement_t> requirement;
  if (options.requirement) {
    platform::requirement_error_t error;
    requirement = platform::requirement_t::compile(*options.requirement, error);
    if (!requirement) {
      return fail("the requirement does not compile: " + error.describe() + "\n  " +
                  *options.requirement);
    }
  }
  const openssl::x509_store_ptr_t anchors = platform::load_trust_anchors(options.anchors);
  const platform::code_check_t check = platform::check_bundle_on_disk(
      options.bundle, requirement ? &*requirement : nullptr, anchors.get());
  if (check.status != platform::errSecSuccess) {
    return fail(options.bundle + ": " + platform::SecCopyErrorMessageString(check.status) + " (" +
                std::to_string(check.status) + "): " + check.reason);
  }
  std::printf("%s: valid on disk%s\n", options.bundle.c_str(),
              requirement ? " and satisfies its requirement" : "");
  return 0;
}

int display(const options_t& options) {
  const std::optional<std::string> signature =
      platform::read_file_bytes(AT_FDCWD, platform::signature_path(options.bundle).c_str());
  if (!signature) return fail(options.bundle + ": code object is not signed at all");
  const openssl::x509_store_ptr_t anchors = platform::load_trust_anchors(options.anchors);
  const platform::signature_check_t checked =
      platform::verify_code_signature(*signature, anchors.get());
  if (checked.status != platform::errSecSuccess) {
    return fail(options.bundle + ": " + checked.reason);
  }
  if (options.requirement_only) {
    std::printf("%s\n", codesign_display::designated_requirement(*checked.code).c_str());
    return 0;
  }
  const platform::property_list::plist_ptr_t info = platform::property_list::parse(
      platform::read_file_bytes(AT_FDCWD, platform::info_plist_path(options.bundle).c_str())
          .value_or(""));
  const std::optional<std::string> name = platform::main_executable_name(info.get());
  const std::filesystem::path executable =
      platform::executable_directory(options.bundle) / name.value_or("?");
  std::fputs(codesign_display::describe(executable, *checked.code).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const auto status = platform::command_line::check(argc, argv, syntax)) return *status;
  const std::optional<options_t> options = parse_options(argc, argv);
  if (!options) {
    return platform::command_line::print_usage(syntax, stderr, platform::command_line::exit_usage);
  }
  if (options->display) return display(*options);
  return options->sign ? sign(*options) : verify(*options);
}
