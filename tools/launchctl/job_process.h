#pragma once

#include <string>
#include <variant>

#include "tools/launchctl/job.h"

namespace standin {

// Why a job's program could not be started.
struct spawn_error_t {
  std::string message;
};

// Starts the job's program detached (its own session, standard streams on /dev/null or the job's
// StandardOutPath/StandardErrorPath, in its WorkingDirectory), as launchd starts a job.
std::variant<process_ref_t, spawn_error_t> spawn_job(const job_t& job);

// True while the very process that was started runs: a pid that has been reused by another
// process, or a zombie, is not the job.
bool is_running(const process_ref_t& process);

// Sends SIGTERM when the process still runs; true when it was sent.
bool terminate(const process_ref_t& process);

// The start time of a live process, nothing when there is none (or only a zombie) with that pid.
std::optional<std::uint64_t> process_start_time(pid_t pid);

}  // namespace standin
