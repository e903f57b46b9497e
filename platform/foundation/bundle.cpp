#include "platform/foundation/bundle.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

// The linker defines these bounds for every section named like a C identifier. They are weak so
// that programs without the embedded lists (the tools, the tests of other parts) still link.
extern "C" {
extern const char __start___info_plist[] __attribute__((weak));
extern const char __stop___info_plist[] __attribute__((weak));
extern const char __start___launchd_plist[] __attribute__((weak));
extern const char __stop___launchd_plist[] __attribute__((weak));
}

namespace platform {
namespace {

std::string_view section(const char* start, const char* stop) {
  if (start == nullptr || stop == nullptr || stop <= start) return {};
  return {start, static_cast<std::size_t>(stop - start)};
}

}  // namespace

std::string_view embedded_info_plist() {
  return section(__start___info_plist, __stop___info_plist);
}

std::string_view embedded_launchd_plist() {
  return section(__start___launchd_plist, __stop___launchd_plist);
}

const bundle_t& bundle_t::mainBundle() {
  static const bundle_t main_bundle(embedded_info_plist());
  return main_bundle;
}

bundle_t::bundle_t(std::string_view info_plist) {
  plist_t parsed = nullptr;
  if (!info_plist.empty()) {
    plist_from_xml(info_plist.data(), static_cast<std::uint32_t>(info_plist.size()), &parsed);
  }
  if (parsed != nullptr && plist_get_node_type(parsed) != PLIST_DICT) {
    plist_free(parsed);
    parsed = nullptr;
  }
  info_.reset(parsed != nullptr ? parsed : plist_new_dict());
}

plist_t bundle_t::objectForInfoDictionaryKey(const char* key) const {
  return plist_dict_get_item(info_.get(), key);
}

std::optional<std::string> bundle_t::stringForInfoDictionaryKey(const char* key) const {
  return property_list::string_value(objectForInfoDictionaryKey(key));
}

std::vector<std::string> bundle_t::stringsForInfoDictionaryKey(const char* key) const {
  std::vector<std::string> strings;
  plist_t array = objectForInfoDictionaryKey(key);
  if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY) return strings;
  const std::uint32_t count = plist_array_get_size(array);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (auto text = property_list::string_value(plist_array_get_item(array, i)))
      strings.push_back(*text);
  }
  return strings;
}

}  // namespace platform
