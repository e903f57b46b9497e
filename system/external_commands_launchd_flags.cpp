// The "Disabled" and "RunAtLoad" flags of launchd property lists.

#include <cmath>
#include <cstring>

#include "platform/foundation/file_manager.h"
#include "platform/foundation/property_list.h"
#include "system/external_commands.h"
#include "trace/trace.h"

namespace {

namespace property_list = platform::property_list;

// A text reads as true when, after blanks, a sign and leading zeros, it starts with Y, T or a
// digit 1 to 9.
bool text_bool_value(const char* text) {
  std::size_t i = std::strspn(text, " \t\n\r\v\f");
  if (text[i] == '+' || text[i] == '-') ++i;
  while (text[i] == '0')
    ++i;
  return text[i] != '\0' && std::strchr("YyTt123456789", text[i]) != nullptr;
}

// The value read as a boolean, the way numbers and texts answer boolValue; a missing value or
// any other kind of value is false.
bool bool_value(plist_t value) {
  if (value == nullptr) return false;
  switch (plist_get_node_type(value)) {
    case PLIST_BOOLEAN: {
      std::uint8_t flag = 0;
      plist_get_bool_val(value, &flag);
      return flag != 0;
    }
    case PLIST_UINT: {
      std::uint64_t number = 0;
      plist_get_uint_val(value, &number);
      return number != 0;
    }
    case PLIST_REAL: {
      double number = 0.0;
      plist_get_real_val(value, &number);
      return number != 0.0 && !std::isnan(number);
    }
    case PLIST_STRING:
      return text_bool_value(property_list::string_value(value).value_or("").c_str());
    default:
      return false;
  }
}

// The list's top-level dictionary; nothing when it does not parse or is not a dictionary, as
// every launchd property list is one.
property_list::plist_ptr_t read_dictionary(const std::string& path) {
  auto list = property_list::read_file(path);
  if (!list || plist_get_node_type(list.get()) != PLIST_DICT) return nullptr;
  return list;
}

bool flag_of(const std::string& plist_path, const char* key, bool when_unreadable) {
  if (!platform::file_manager::fileExistsAtPath(plist_path)) return false;
  const auto dictionary = read_dictionary(plist_path);
  if (!dictionary) return when_unreadable;
  return bool_value(plist_dict_get_item(dictionary.get(), key));
}

// Sets the key and writes the whole list back atomically as XML; false when the write failed,
// so a change that did not happen is never reported as made. A binary list may hold a key twice
// and reads as the first value there, while XML reads as the last: such a list is left as it is
// unless the XML says what was meant, the new flag and the other one unchanged.
bool write_flag(const std::string& plist_path, plist_t dictionary, const char* key, bool flag) {
  const char* other = std::strcmp(key, "Disabled") == 0 ? "RunAtLoad" : "Disabled";
  const bool other_flag = bool_value(plist_dict_get_item(dictionary, other));
  plist_dict_set_item(dictionary, key, plist_new_bool(flag ? 1 : 0));
  const auto written = property_list::parse(property_list::to_xml(dictionary));
  if (!written || bool_value(plist_dict_get_item(written.get(), key)) != flag ||
      bool_value(plist_dict_get_item(written.get(), other)) != other_flag) {
    return false;
  }
  return property_list::write_xml(plist_path, dictionary, true);
}

}  // namespace

bool ExternalCommands::is_service_disabled(const std::string& plist_path) {
  return flag_of(plist_path, "Disabled", true);
}

bool ExternalCommands::is_service_run_at_load(const std::string& plist_path) {
  return flag_of(plist_path, "RunAtLoad", false);
}

bool ExternalCommands::set_enable_service(const std::string& plist_path, bool enable) {
  trace_t trace("helper_tool");
  if (!platform::file_manager::fileExistsAtPath(plist_path)) {
    trace_error(trace, "No launchd property list at %s", plist_path.c_str());
    return false;
  }
  const auto dictionary = read_dictionary(plist_path);
  if (!dictionary) {
    trace_error(trace, "The launchd property list %s is not a readable dictionary",
                plist_path.c_str());
    return false;
  }
  return write_flag(plist_path, dictionary.get(), "Disabled", !enable);
}

bool ExternalCommands::set_runatload_service(const std::string& plist_path, bool run_at_load) {
  if (!platform::file_manager::fileExistsAtPath(plist_path)) return false;
  const auto dictionary = read_dictionary(plist_path);
  if (!dictionary) return false;
  return write_flag(plist_path, dictionary.get(), "RunAtLoad", run_at_load);
}
