// velmora-codesign: signs application bundles and checks them on disk.
//
//   velmora-codesign --sign --cert LEAF.pem --key LEAF.key [--chain CA.pem]... --identifier ID
//   B.app velmora-codesign --verify [-R REQUIREMENT] [--anchors DIR] B.app
#include <openssl/pem.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/security/bundle_signing.h"
#include "platform/security/bundle_validation.h"
#include "platform/security/code_signing.h"
#include "platform/security/trust_store.h"

namespace {

namespace openssl = platform::openssl;

struct options_t {
  bool sign = false;
  bool verify = false;
  std::string certificate;
  std::string key;
  std::vector<std::string> chain;
  std::string identifier;
  std::optional<std::string> requirement;
  std::string anchors{platform::kTrustAnchorDirectory};
  std::string bundle;
};

int usage() {
  std::fputs(
      "usage: velmora-codesign --sign --cert LEAF.pem --key LEAF.key [--chain CA.pem]... "
      "--identifier ID BUNDLE.app\n"
      "       velmora-codesign --verify [-R REQUIREMENT] [--anchors DIR] BUNDLE.app\n",
      stderr);
  return 1;
}

std::optional<options_t> parse_options(int argc, char** argv) {
  options_t options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool has_value = i + 1 < argc;
    if (argument == "--sign") {
      options.sign = true;
    } else if (argument == "--verify") {
      options.verify = true;
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
  if (options.bundle.empty() || options.sign == options.verify ||
      (options.sign && !sign_complete)) {
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
  std::string error;
  const platform::signing_identity_t identity{leaf.get(), key.get(), chain.get()};
  if (!platform::sign_bundle(options.bundle, options.identifier, identity, error)) {
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

}  // namespace

int main(int argc, char** argv) {
  const std::optional<options_t> options = parse_options(argc, argv);
  if (!options) return usage();
  return options->sign ? sign(*options) : verify(*options);
}
