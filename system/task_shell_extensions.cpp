#include "system/task_shell_extensions.h"

#include <chrono>
#include <cstdint>
#include <memory>

#include "system/text_components.h"
#include "trace/trace.h"

namespace {

using steady_clock_t = std::chrono::steady_clock;

// Now plus t seconds, t truncated to whole nanoseconds; nothing when t is too large (or not a
// number) to give a deadline, which leaves the child to end by itself.
std::optional<steady_clock_t::time_point> deadline_after(double timeout_seconds) {
  const double nanoseconds = timeout_seconds * 1000000000.0;
  if (!(nanoseconds < 9.0e18)) return std::nullopt;
  const auto count = nanoseconds > 0.0 ? static_cast<std::int64_t>(nanoseconds) : 0;
  return steady_clock_t::now() + std::chrono::nanoseconds(count);
}

std::shared_ptr<platform::pipe_t> capture_standard_output(platform::task_t& task) {
  auto pipe = std::make_shared<platform::pipe_t>();
  task.setStandardOutput(pipe);
  return pipe;
}

// A tool that could not be started reads as exit status 127, like one that exited 127; the line
// says which it was.
void launch_traced(platform::task_t& task) {
  if (task.launch()) return;
  trace_t trace("helper_tool");
  trace_error(trace, "Can't start %s: %s", task.launchPath.c_str(),
              task.launchError().message().c_str());
}

}  // namespace

std::optional<std::string> syncStdOutExecute(platform::task_t& task) {
  const auto pipe = capture_standard_output(task);
  launch_traced(task);
  task.waitUntilExit();
  if (task.terminationStatus() != 0) return std::nullopt;
  return decode_utf8(pipe->readDataToEndOfFile());
}

std::optional<std::string> syncStdOutExecuteWithTimeout(platform::task_t& task,
                                                        double timeout_seconds) {
  const auto pipe = capture_standard_output(task);
  launch_traced(task);
  // The waiting thread itself sends the terminate at the deadline, and only while the child has
  // not been reaped: a child that ended earlier is never signalled, nor is a process that took
  // over its pid.
  if (const auto deadline = deadline_after(timeout_seconds)) task.terminateAtDeadline(*deadline);
  task.waitUntilExit();
  return decode_utf8(pipe->readDataToEndOfFile());
}

int syncExec(const std::string& launch_path, const std::vector<std::string>& args) {
  platform::task_t task(launch_path, args);
  launch_traced(task);
  task.waitUntilExit();
  return task.terminationStatus();
}
