#include "tools/launchctl/job_property_list.h"

#include <unistd.h>

#include "tools/launchctl/plist_values.h"

namespace standin {

using platform::property_list::read_file;
using plist_values::bool_value;
using plist_values::string_array;
using plist_values::string_value;

bool is_usable_label(const std::string& label) {
  return !label.empty() && !label.starts_with('.') && label.find('/') == std::string::npos &&
         label.find('\0') == std::string::npos;
}

std::variant<job_t, job_list_error_t> read_job_property_list(const std::string& path) {
  if (::access(path.c_str(), F_OK) != 0) return job_list_error_t{"No such file or directory"};
  const auto root = read_file(path);
  if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
    return job_list_error_t{"Invalid property list"};
  }
  job_t job;
  job.label = string_value(root.get(), "Label");
  if (!is_usable_label(job.label)) return job_list_error_t{"Invalid or missing Label"};
  job.path = path;
  job.program = string_value(root.get(), "Program");
  job.program_arguments = string_array(root.get(), "ProgramArguments");
  if (job.program.empty() && job.program_arguments.empty()) {
    return job_list_error_t{"Neither Program nor ProgramArguments"};
  }
  job.working_directory = string_value(root.get(), "WorkingDirectory");
  job.standard_out_path = string_value(root.get(), "StandardOutPath");
  job.standard_error_path = string_value(root.get(), "StandardErrorPath");
  job.disabled = bool_value(root.get(), "Disabled");
  job.run_at_load = bool_value(root.get(), "RunAtLoad");
  return job;
}

}  // namespace standin
