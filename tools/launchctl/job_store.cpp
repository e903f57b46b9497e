#include "tools/launchctl/job_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tools/launchctl/job_property_list.h"
#include "tools/launchctl/plist_values.h"

namespace standin {
namespace {

constexpr std::string_view job_suffix = ".plist";

plist_values::plist_ptr_t job_dictionary(const job_t& job) {
  plist_values::plist_ptr_t dictionary(plist_new_dict());
  plist_t node = dictionary.get();
  plist_values::set_string(node, "Label", job.label);
  plist_values::set_string(node, "Path", job.path);
  plist_values::set_string(node, "Program", job.program);
  plist_values::set_string_array(node, "ProgramArguments", job.program_arguments);
  plist_values::set_string(node, "WorkingDirectory", job.working_directory);
  plist_values::set_string(node, "StandardOutPath", job.standard_out_path);
  plist_values::set_string(node, "StandardErrorPath", job.standard_error_path);
  plist_dict_set_item(node, "Disabled", plist_new_bool(job.disabled));
  plist_dict_set_item(node, "RunAtLoad", plist_new_bool(job.run_at_load));
  if (job.process) {
    plist_dict_set_item(node, "PID", plist_new_uint(static_cast<uint64_t>(job.process->pid)));
    plist_dict_set_item(node, "PIDStartTime", plist_new_uint(job.process->start_time));
  }
  return dictionary;
}

std::optional<process_ref_t> recorded_process(const std::string& state_path) {
  const auto dictionary = platform::property_list::read_file(state_path);
  if (!dictionary) return std::nullopt;
  const auto pid = plist_values::uint_value(dictionary.get(), "PID");
  const auto start_time = plist_values::uint_value(dictionary.get(), "PIDStartTime");
  if (!pid || !start_time) return std::nullopt;
  return process_ref_t{static_cast<pid_t>(*pid), *start_time};
}

}  // namespace

std::optional<job_store_t> job_store_t::open(const std::string& directory) {
  ::mkdir(directory.c_str(), 0755);
  const auto lock_path = directory + "/.lock";
  platform::unique_fd_t lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock || ::flock(lock.get(), LOCK_EX) != 0) return std::nullopt;
  return job_store_t(directory, std::move(lock));
}

std::string job_store_t::job_path(const std::string& label) const {
  return directory_ + "/" + label + std::string(job_suffix);
}

std::optional<job_t> job_store_t::find(const std::string& label) const {
  if (!is_usable_label(label)) return std::nullopt;
  const auto path = job_path(label);
  auto read = read_job_property_list(path);
  auto* job = std::get_if<job_t>(&read);
  if (job == nullptr) return std::nullopt;
  // The state file names the job's own list, not itself.
  const auto dictionary = platform::property_list::read_file(path);
  job->path = plist_values::string_value(dictionary.get(), "Path");
  job->process = recorded_process(path);
  return std::move(*job);
}

bool job_store_t::save(const job_t& job) const {
  if (!is_usable_label(job.label)) return false;
  const auto dictionary = job_dictionary(job);
  return platform::property_list::write_xml(job_path(job.label), dictionary.get(), true);
}

bool job_store_t::remove(const std::string& label) const {
  return is_usable_label(label) && ::unlink(job_path(label).c_str()) == 0;
}

std::vector<job_t> job_store_t::all() const {
  std::vector<job_t> jobs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
    const auto name = entry.path().filename().string();
    if (!name.ends_with(job_suffix)) continue;
    if (auto job = find(name.substr(0, name.size() - job_suffix.size()))) {
      jobs.push_back(std::move(*job));
    }
  }
  std::ranges::sort(jobs, {}, &job_t::label);
  return jobs;
}

bool job_store_t::save_limit(const std::string& name, const limit_t& limit) const {
  std::ofstream file(directory_ + "/limit." + name, std::ios::trunc);
  file << limit.soft << ' ' << limit.hard << '\n';
  return static_cast<bool>(file.flush());
}

std::optional<limit_t> job_store_t::find_limit(const std::string& name) const {
  std::ifstream file(directory_ + "/limit." + name);
  limit_t limit;
  if (!(file >> limit.soft >> limit.hard)) return std::nullopt;
  return limit;
}

}  // namespace standin
