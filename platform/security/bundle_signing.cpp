#include "platform/security/bundle_signing.h"

#include <fstream>
#include <optional>
#include <system_error>

#include "platform/foundation/property_list.h"
#include "platform/security/bundle.h"
#include "platform/security/designated_requirement.h"
#include "platform/security/file_bytes.h"
#include "platform/security/requirement.h"

namespace platform {

namespace {

// The code directory of the bundle as it is on disk now.
std::optional<code_directory_t> describe_bundle(const std::filesystem::path& bundle,
                                                std::string& error) {
  const std::optional<std::string> info_bytes = read_bundle_file(info_plist_path(bundle));
  const unique_fd_t executable = open_main_executable(bundle);
  const std::optional<sha256_t> executable_digest =
      executable ? sha256_of_file(executable.get()) : std::nullopt;
  if (!info_bytes || !executable_digest) {
    error = "cannot read Info.plist or the main executable it names";
    return std::nullopt;
  }
  code_directory_t directory;
  directory.executable_digest = *executable_digest;
  directory.info_plist_digest = sha256_of_bytes(*info_bytes);
  return directory;
}

bool write_signature(const std::filesystem::path& bundle, const std::string& der,
                     std::string& error) {
  const std::filesystem::path path = signature_path(bundle);
  std::error_code created;
  std::filesystem::create_directories(path.parent_path(), created);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(der.data(), static_cast<std::streamsize>(der.size()));
  out.close();
  if (created || !out) {
    error = "cannot write " + path.string();
    return false;
  }
  return true;
}

// The canonical text of the requirement the signer gave, or of the default one.
std::optional<std::string> designated_requirement(const std::string& given,
                                                  const std::string& identifier,
                                                  const signing_identity_t& identity,
                                                  const std::string& team, std::string& error) {
  X509* issuer = identity.intermediates != nullptr && sk_X509_num(identity.intermediates) > 0
                     ? sk_X509_value(identity.intermediates, 0)
                     : nullptr;
  const std::string text =
      given.empty() ? default_designated_requirement(identifier, identity.leaf, issuer, team)
                    : given;
  requirement_error_t compile_error;
  const std::optional<requirement_t> requirement = requirement_t::compile(text, compile_error);
  if (!requirement) {
    error = "the designated requirement does not compile: " + compile_error.describe();
    return std::nullopt;
  }
  return requirement->canonical_text();
}

}  // namespace

bool sign_bundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const signing_identity_t& identity, std::string& error,
                 const signing_declarations_t& declarations) {
  std::optional<std::string> team = team_identifier_of(identity.leaf);
  if (!team) {
    error = "the signing certificate has no subject OU (team identifier)";
    return false;
  }
  if (!declarations.entitlements.empty() &&
      !PLIST_IS_DICT(property_list::parse(declarations.entitlements).get())) {
    error = "the entitlements are not a property list dictionary";
    return false;
  }
  std::optional<std::string> requirement = designated_requirement(
      declarations.designated_requirement, identifier, identity, *team, error);
  if (!requirement) return false;
  std::optional<code_directory_t> directory = describe_bundle(bundle, error);
  if (!directory) return false;
  directory->identifier = identifier;
  directory->team_identifier = std::move(*team);
  directory->entitlements = declarations.entitlements;
  directory->designated_requirement = std::move(*requirement);
  const std::optional<std::string> der = sign_code_directory(*directory, identity, error);
  return der && write_signature(bundle, *der, error);
}

}  // namespace platform
