// Link-time stand-ins for the platform calls that act on the machine: running tools, changing
// files, the authorization authority, starting applications. The dispatch harness links these
// before the platform libraries, so their objects that do those things are never pulled in.
#include "fuzz/platform_boundary.h"

#include "platform/appkit/workspace.h"
#include "platform/authorization/authorization.h"
#include "platform/foundation/file_manager.h"
#include "platform/foundation/file_writing.h"
#include "platform/foundation/task.h"

namespace fuzz_boundary {

tool_answer_t& tool_answer() {
  static tool_answer_t answer;
  return answer;
}

std::map<std::string, int>& tools_started() {
  static std::map<std::string, int> started;
  return started;
}

}  // namespace fuzz_boundary

namespace platform {

pipe_t::pipe_t() = default;

std::vector<std::uint8_t> pipe_t::readDataToEndOfFile() {
  return data_;
}

task_t::task_t(std::string launch_path, std::vector<std::string> args)
    : launchPath(std::move(launch_path)), arguments(std::move(args)) {}

task_t::~task_t() = default;

bool task_t::launch() {
  ++fuzz_boundary::tools_started()[launchPath];
  const auto& answer = fuzz_boundary::tool_answer();
  if (standard_output_) standard_output_->data_.assign(answer.output.begin(), answer.output.end());
  launched_ = true;
  reaped_ = true;
  status_ = answer.status;
  return true;
}

void task_t::waitUntilExit() {}

bool task_t::terminate() {
  return false;
}

bool workspace::launchApplication(const std::string&) {
  return false;
}

bool file_manager::removeItemAtPath(const std::string&, std::string* error) {
  if (error != nullptr) *error = "not in the harness";
  return false;
}

bool file_manager::copyItemAtPath(const std::string&, const std::string&, std::string* error) {
  if (error != nullptr) *error = "not in the harness";
  return false;
}

std::vector<std::string> file_manager::enumeratorAtPath(const std::string&) {
  return {};
}

bool file_writing::write_atomically(const std::string&, std::string_view) {
  return false;
}

bool file_writing::write_in_place(const std::string&, std::string_view) {
  return false;
}

namespace authorization {

// Every session is unknown: the privileged requests stop at their authorization step.
os_status_t AuthorizationCreateFromExternalForm(std::span<const std::uint8_t>,
                                                authorization_ref_t*) {
  return errAuthorizationInvalidRef;
}

os_status_t AuthorizationCopyRights(const authorization_ref_t&, const AuthorizationRights&,
                                    AuthorizationFlags) {
  return errAuthorizationDenied;
}

os_status_t AuthorizationFree(authorization_ref_t& authorization, AuthorizationFlags) {
  authorization.session_.reset();
  return errAuthorizationSuccess;
}

os_status_t AuthorizationRightGet(const std::string&, right_definition_t*) {
  return errAuthorizationDenied;
}

os_status_t AuthorizationRightSet(const authorization_ref_t&, const std::string&,
                                  const std::string&, const std::string&) {
  return errAuthorizationDenied;
}

os_status_t AuthorizationRightRemove(const authorization_ref_t&, const std::string&) {
  return errAuthorizationDenied;
}

}  // namespace authorization
}  // namespace platform
