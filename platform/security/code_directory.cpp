#include "platform/security/code_directory.h"

#include <cstdlib>
#include <cstring>

#include "platform/foundation/property_list.h"

namespace platform {

namespace {

constexpr std::uint64_t kFormatVersion = 1;
constexpr const char* kVersion = "version";
constexpr const char* kIdentifier = "identifier";
constexpr const char* kTeamIdentifier = "team-identifier";
constexpr const char* kExecutableDigest = "main-executable-sha256";
constexpr const char* kInfoPlistDigest = "info-plist-sha256";
constexpr const char* kEntitlements = "entitlements";
constexpr const char* kDesignatedRequirement = "designated-requirement";

plist_t data_node(const sha256_t& digest) {
  return plist_new_data(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::optional<sha256_t> digest_entry(plist_t dictionary, const char* key) {
  const std::optional<std::string> bytes = property_list::data_entry(dictionary, key);
  sha256_t digest{};
  if (!bytes || bytes->size() != digest.size()) return std::nullopt;
  std::memcpy(digest.data(), bytes->data(), digest.size());
  return digest;
}

bool has_known_version(plist_t dictionary) {
  plist_t item = plist_dict_get_item(dictionary, kVersion);
  if (!PLIST_IS_UINT(item)) return false;
  std::uint64_t version = 0;
  plist_get_uint_val(item, &version);
  return version == kFormatVersion;
}

}  // namespace

std::string code_directory_t::encode() const {
  property_list::plist_ptr_t dictionary(plist_new_dict());
  plist_dict_set_item(dictionary.get(), kVersion, plist_new_uint(kFormatVersion));
  plist_dict_set_item(dictionary.get(), kIdentifier, plist_new_string(identifier.c_str()));
  plist_dict_set_item(dictionary.get(), kTeamIdentifier, plist_new_string(team_identifier.c_str()));
  plist_dict_set_item(dictionary.get(), kExecutableDigest, data_node(executable_digest));
  plist_dict_set_item(dictionary.get(), kInfoPlistDigest, data_node(info_plist_digest));
  if (!entitlements.empty()) {
    plist_dict_set_item(dictionary.get(), kEntitlements,
                        plist_new_data(entitlements.data(), entitlements.size()));
  }
  if (!designated_requirement.empty()) {
    plist_dict_set_item(dictionary.get(), kDesignatedRequirement,
                        plist_new_string(designated_requirement.c_str()));
  }
  return property_list::to_binary(dictionary.get());
}

std::optional<code_directory_t> code_directory_t::decode(std::string_view bytes) {
  const property_list::plist_ptr_t dictionary = property_list::parse(bytes);
  if (!PLIST_IS_DICT(dictionary.get()) || !has_known_version(dictionary.get())) return std::nullopt;
  std::optional<std::string> identifier =
      property_list::string_entry(dictionary.get(), kIdentifier);
  std::optional<std::string> team = property_list::string_entry(dictionary.get(), kTeamIdentifier);
  const std::optional<sha256_t> executable = digest_entry(dictionary.get(), kExecutableDigest);
  const std::optional<sha256_t> info_plist = digest_entry(dictionary.get(), kInfoPlistDigest);
  if (!identifier || !team || !executable || !info_plist) return std::nullopt;
  // The signing tool cannot write a zero character, and a requirement could never name it.
  if (identifier->find('\0') != std::string::npos || team->find('\0') != std::string::npos) {
    return std::nullopt;
  }
  // Both are optional: older signatures carry neither.
  std::optional<std::string> entitlements =
      property_list::data_entry(dictionary.get(), kEntitlements);
  std::optional<std::string> requirement =
      property_list::string_entry(dictionary.get(), kDesignatedRequirement);
  return code_directory_t{
      std::move(*identifier),    std::move(*team),        *executable, *info_plist,
      entitlements.value_or(""), requirement.value_or("")};
}

}  // namespace platform
