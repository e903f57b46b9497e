#pragma once

#include <string>
#include <variant>

#include "tools/launchctl/job.h"

namespace standin {

// Why a property list cannot be used as a job, in the words launchctl prints after the path.
struct job_list_error_t {
  std::string message;
};

// Reads the job from a launchd property list (XML or binary): Label, Program, ProgramArguments,
// WorkingDirectory, StandardOutPath, StandardErrorPath, Disabled, RunAtLoad.
std::variant<job_t, job_list_error_t> read_job_property_list(const std::string& path);

// A label that can name a file of the state store: not empty, no "/" or zero character, not
// starting with ".".
bool is_usable_label(const std::string& label);

}  // namespace standin
