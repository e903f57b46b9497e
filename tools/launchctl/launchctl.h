#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/launchctl/job_store.h"

// The subcommands of the stand-in launchctl. Each answers the tool's exit status and writes its
// messages to standard error, its listings to standard output.
namespace standin::launchctl {

inline constexpr std::string_view usage_text =
    "usage: launchctl load|unload <path> | start|stop <label> | limit maxfiles [<soft> <hard>] |"
    " list\n";

// Loads the job of a property list; a disabled list is refused, and a list with RunAtLoad starts
// the job. A job whose program cannot be started stays loaded, as launchd keeps it.
int load(const job_store_t& store, const std::string& path);
// Stops the job of a property list if it runs and forgets it.
int unload(const job_store_t& store, const std::string& path);
int start(const job_store_t& store, const std::string& label);
int stop(const job_store_t& store, const std::string& label);
// "limit NAME" prints the limit; "limit NAME SOFT HARD" records it.
int limit(const job_store_t& store, const std::vector<std::string>& arguments);
// The loaded jobs: "PID<tab>Status<tab>Label", then one line per job ("-" for no process).
int list(const job_store_t& store);

// Runs the subcommand named by the first argument.
int run(const job_store_t& store, const std::vector<std::string>& arguments);

}  // namespace standin::launchctl
