#include "install/launchd_plist.h"

#include "service/helper_tool.h"

namespace launchd_plist {

using platform::property_list::plist_ptr_t;

std::string stringWithFormat(std::string_view format, std::string_view object) {
  constexpr std::string_view placeholder = "%@";
  std::string text;
  std::size_t from = 0;
  for (auto at = format.find(placeholder); at != std::string_view::npos;
       at = format.find(placeholder, from)) {
    text.append(format.substr(from, at - from)).append(object);
    from = at + placeholder.size();
  }
  text.append(format.substr(from));
  return text;
}

std::string service_label(std::string_view vl_namespace) {
  return stringWithFormat(service_label_format, vl_namespace);
}

std::string service_plist_path(std::string_view vl_namespace) {
  return stringWithFormat(service_plist_format, service_label(vl_namespace));
}

std::string agent_label(std::string_view vl_namespace) {
  return stringWithFormat(agent_label_format, vl_namespace);
}

std::string agent_plist_path(std::string_view vl_namespace) {
  return stringWithFormat(agent_plist_format, agent_label(vl_namespace));
}

plist_ptr_t job_dictionary(const std::string& label, const std::string& program_path,
                           std::string_view argument,
                           const std::optional<std::string>& working_directory) {
  plist_ptr_t program_arguments(plist_new_array());
  plist_array_append_item(program_arguments.get(), plist_new_string(program_path.c_str()));
  plist_array_append_item(program_arguments.get(), plist_new_string(std::string(argument).c_str()));

  plist_ptr_t dictionary(plist_new_dict());
  plist_dict_set_item(dictionary.get(), "Label", plist_new_string(label.c_str()));
  plist_dict_set_item(dictionary.get(), "Disabled", plist_new_bool(0));
  plist_dict_set_item(dictionary.get(), "RunAtLoad", plist_new_bool(1));
  plist_dict_set_item(dictionary.get(), "KeepAlive", plist_new_bool(0));
  plist_dict_set_item(dictionary.get(), "LaunchOnlyOnce", plist_new_bool(1));
  plist_dict_set_item(dictionary.get(), "ProgramArguments", program_arguments.release());
  if (working_directory) {
    plist_dict_set_item(dictionary.get(), "WorkingDirectory",
                        plist_new_string(working_directory->c_str()));
  }
  return dictionary;
}

plist_ptr_t service_dictionary(const std::string& label, const std::string& program_path) {
  return job_dictionary(label, program_path, service_argument);
}

plist_ptr_t agent_dictionary(const std::string& label, const std::string& program_path,
                             const std::optional<std::string>& working_directory) {
  return job_dictionary(label, program_path, agent_argument, working_directory);
}

}  // namespace launchd_plist

// Written aside and renamed over the old list, so a crash never leaves a torn list for launchd.
// A failure stays silent: the caller goes on either way.
void helper_tool_t::_createPlist(const std::string& path, plist_t dictionary) {
  platform::property_list::write_xml(path, dictionary, true);
}
