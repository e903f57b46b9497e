#include "tools/launchctl/launchctl.h"

#include <cstdio>

#include "tools/launchctl/job_process.h"
#include "tools/launchctl/job_property_list.h"

namespace standin::launchctl {
namespace {

constexpr const char* maxfiles = "maxfiles";
// What launchd gives before anyone raises it.
const limit_t default_maxfiles{"256", "unlimited"};

int failure(const char* format, const std::string& subject) {
  std::fprintf(stderr, format, subject.c_str());
  std::fputc('\n', stderr);
  return 1;
}

bool start_process(job_t& job) {
  if (job.process && is_running(*job.process)) return true;
  auto started = spawn_job(job);
  if (const auto* error = std::get_if<spawn_error_t>(&started)) {
    failure("launchctl: cannot start %s", job.label + ": " + error->message);
    job.process.reset();
    return false;
  }
  job.process = std::get<process_ref_t>(started);
  return true;
}

bool is_limit_value(const std::string& value) {
  return value == "unlimited" ||
         (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos);
}

void print_limit(const std::string& name, const limit_t& value) {
  std::printf("\t%-12s%-16s%s\n", name.c_str(), value.soft.c_str(), value.hard.c_str());
}

int usage() {
  std::fwrite(usage_text.data(), 1, usage_text.size(), stderr);
  return 1;
}

}  // namespace

int load(const job_store_t& store, const std::string& path) {
  auto read = read_job_property_list(path);
  if (const auto* error = std::get_if<job_list_error_t>(&read)) {
    return failure("%s", path + ": " + error->message);
  }
  auto& job = std::get<job_t>(read);
  if (job.disabled) return failure("%s: Service is disabled", path);
  if (store.find(job.label)) return failure("%s: service already loaded", path);
  if (job.run_at_load) start_process(job);
  if (!store.save(job)) return failure("%s: cannot record the job", path);
  return 0;
}

int unload(const job_store_t& store, const std::string& path) {
  auto read = read_job_property_list(path);
  if (const auto* error = std::get_if<job_list_error_t>(&read)) {
    return failure("%s", path + ": " + error->message);
  }
  const auto& label = std::get<job_t>(read).label;
  const auto job = store.find(label);
  if (!job) return failure("%s: Could not find specified service", path);
  if (job->process) terminate(*job->process);
  store.remove(label);
  return 0;
}

int start(const job_store_t& store, const std::string& label) {
  auto job = store.find(label);
  if (!job) return failure("launchctl start: no job with label %s is loaded", label);
  const bool started = start_process(*job);
  if (!store.save(*job)) return failure("launchctl start: cannot record %s", label);
  return started ? 0 : 1;
}

int stop(const job_store_t& store, const std::string& label) {
  auto job = store.find(label);
  if (!job) return failure("launchctl stop: no job with label %s is loaded", label);
  if (job->process) terminate(*job->process);
  job->process.reset();
  if (!store.save(*job)) return failure("launchctl stop: cannot record %s", label);
  return 0;
}

int limit(const job_store_t& store, const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    print_limit(maxfiles, store.find_limit(maxfiles).value_or(default_maxfiles));
    return 0;
  }
  const auto& name = arguments[0];
  if (name != maxfiles) return failure("launchctl limit: unknown resource %s", name);
  if (arguments.size() == 1) {
    print_limit(name, store.find_limit(name).value_or(default_maxfiles));
    return 0;
  }
  if (arguments.size() != 3 || !is_limit_value(arguments[1]) || !is_limit_value(arguments[2])) {
    return usage();
  }
  if (!store.save_limit(name, {arguments[1], arguments[2]})) {
    return failure("launchctl limit: cannot record %s", name);
  }
  return 0;
}

int list(const job_store_t& store) {
  std::printf("PID\tStatus\tLabel\n");
  for (const auto& job : store.all()) {
    const bool running = job.process && is_running(*job.process);
    const auto pid = running ? std::to_string(job.process->pid) : std::string("-");
    std::printf("%s\t0\t%s\n", pid.c_str(), job.label.c_str());
  }
  return 0;
}

int run(const job_store_t& store, const std::vector<std::string>& arguments) {
  if (arguments.empty()) return usage();
  const auto& command = arguments[0];
  const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  if (command == "list" && rest.empty()) return list(store);
  if (command == "limit") return limit(store, rest);
  if (rest.size() != 1) return usage();
  if (command == "load") return load(store, rest[0]);
  if (command == "unload") return unload(store, rest[0]);
  if (command == "start") return start(store, rest[0]);
  if (command == "stop") return stop(store, rest[0]);
  return usage();
}

}  // namespace standin::launchctl
