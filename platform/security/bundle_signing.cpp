#include "platform/security/bundle_signing.h"

#include <fcntl.h>

#include <fstream>
#include <optional>
#include <system_error>

#include "platform/security/bundle.h"
#include "platform/security/file_bytes.h"

namespace platform {

namespace {

// The code directory of the bundle as it is on disk now.
std::optional<code_directory_t> describe_bundle(const std::filesystem::path& bundle,
                                                std::string& error) {
  const std::optional<std::string> info_bytes =
      read_file_bytes(AT_FDCWD, info_plist_path(bundle).c_str());
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

}  // namespace

bool sign_bundle(const std::filesystem::path& bundle, const std::string& identifier,
                 const signing_identity_t& identity, std::string& error) {
  std::optional<std::string> team = team_identifier_of(identity.leaf);
  if (!team) {
    error = "the signing certificate has no subject OU (team identifier)";
    return false;
  }
  std::optional<code_directory_t> directory = describe_bundle(bundle, error);
  if (!directory) return false;
  directory->identifier = identifier;
  directory->team_identifier = std::move(*team);
  const std::optional<std::string> der = sign_code_directory(*directory, identity, error);
  return der && write_signature(bundle, *der, error);
}

}  // namespace platform
