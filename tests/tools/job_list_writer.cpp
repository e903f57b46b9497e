#include "tests/tools/job_list_writer.h"

#include <plist/plist.h>

#include <fstream>

#include "platform/foundation/property_list.h"

namespace {

const char* boolean(bool value) {
  return value ? "<true/>" : "<false/>";
}

std::string to_binary(const std::string& xml) {
  plist_t parsed = nullptr;
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &parsed);
  const platform::property_list::plist_ptr_t root(parsed);
  return platform::property_list::to_binary(root.get());
}

}  // namespace

std::string job_list_xml(const job_list_t& list) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict>"
         "<key>Label</key><string>" +
         list.label + "</string><key>Disabled</key>" + boolean(list.disabled) +
         "<key>RunAtLoad</key>" + boolean(list.run_at_load) + "<key>ProgramArguments</key><array>" +
         list.program_arguments_xml + "</array>" + list.extra_keys_xml + "</dict></plist>\n";
}

bool write_job_list(const std::string& path, const job_list_t& list, bool binary) {
  const auto xml = job_list_xml(list);
  const auto bytes = binary ? to_binary(xml) : xml;
  if (bytes.empty()) return false;
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  return static_cast<bool>(file.flush());
}
