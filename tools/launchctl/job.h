#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// A started process, told apart from a later process that reuses its pid by its start time.
struct process_ref_t {
  pid_t pid = 0;
  std::uint64_t start_time = 0;  // clock ticks after boot, as /proc/<pid>/stat gives it

  bool operator==(const process_ref_t&) const = default;
};

// A launchd job as the stand-in keeps it: what its property list said when it was loaded.
struct job_t {
  std::string label;
  std::string path;     // the property list it was loaded from
  std::string program;  // the "Program" key; empty means the first of the program arguments
  std::vector<std::string> program_arguments;
  std::string working_directory;
  std::string standard_out_path;
  std::string standard_error_path;
  bool disabled = false;
  bool run_at_load = false;
  std::optional<process_ref_t> process;  // set while the job runs

  bool operator==(const job_t&) const = default;
};

}  // namespace standin
