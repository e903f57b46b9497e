#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/task.h"

// Synchronous runs of a task: start the child, block until it has ended, then hand back its exit
// status or its standard output as text. A child that cannot be started ends with status 127.

// The child's standard output, or nothing when its exit status is not 0 or the output is not
// UTF-8. No output at all is the empty string.
std::optional<std::string> syncStdOutExecute(platform::task_t& task);

// The child's standard output whatever its exit status; a child still running after
// timeout_seconds is sent SIGTERM and what it wrote until then is returned. Nothing when the
// output is not UTF-8.
std::optional<std::string> syncStdOutExecuteWithTimeout(platform::task_t& task,
                                                        double timeout_seconds);

// The exit status of launch_path run with args; its standard output is the service's own.
int syncExec(const std::string& launch_path, const std::vector<std::string>& args);
