#include "platform/authorization/administrator_authentication.h"

#include <unistd.h>

#include "platform/authorization/authorization_agent.h"
#include "platform/authorization/credentials.h"
#include "platform/authorization/polkit.h"
#include "platform/base/request_sender.h"
#include "trace/trace.h"

namespace platform::authorization {
namespace {

// How often the stand-in may get the password wrong within one request.
constexpr int kAgentTries = 3;

os_status_t authenticate_with_agent(const std::string& right, const std::string& description) {
  for (int attempt = 0; attempt < kAgentTries; ++attempt) {
    const agent_answer_t answer =
        run_authorization_agent(kAuthorizationAgentPath, right, description);
    if (answer.kind == agent_answer_t::kind_t::cancelled) return errAuthorizationCanceled;
    if (answer.kind == agent_answer_t::kind_t::failed) return errAuthorizationInternal;
    switch (check_administrator_credentials(answer.user, answer.password)) {
      case credentials_check_t::administrator:
        return errAuthorizationSuccess;
      case credentials_check_t::not_permitted:
        return errAuthorizationDenied;
      case credentials_check_t::failed:
        return errAuthorizationInternal;
      case credentials_check_t::wrong_password:
        break;
    }
  }
  return errAuthorizationDenied;
}

// The right's name and description travel as details; the description also replaces the
// action's message, so the dialog shows the text the rights database holds.
polkit_details_t details_for(const std::string& right, const std::string& description) {
  polkit_details_t details{{"right", right}, {"description", description}};
  if (!description.empty()) details.emplace_back("polkit.message", description);
  return details;
}

os_status_t authenticate_with_polkit(const std::string& right, const std::string& description) {
  trace_t trace("authorization");
  const request_sender_t* sender = current_request_sender();
  if (sender == nullptr) {
    trace_error(trace, "polkit: no client process to authenticate for %s", right.c_str());
    return errAuthorizationInternal;
  }
  const std::optional<polkit_subject_t> subject =
      polkit_subject_of(sender->pid, sender->uid, sender->pidfd);
  if (!subject) {
    trace_error(trace, "polkit: client process %d is gone", sender->pid);
    return errAuthorizationInternal;
  }
  const std::string action = polkit_action_for_right(right);
  const polkit_result_t result =
      polkit_check_authorization(*subject, action, details_for(right, description));
  switch (result.answer) {
    case polkit_answer_t::authorized:
      return errAuthorizationSuccess;
    case polkit_answer_t::not_authorized:
      return errAuthorizationDenied;
    case polkit_answer_t::dismissed:
      return errAuthorizationCanceled;
    case polkit_answer_t::no_agent:
      trace_error(trace, "polkit: no authentication agent answered for process %d (%s)",
                  subject->pid, action.c_str());
      return errAuthorizationCanceled;
    case polkit_answer_t::failed:
      break;
  }
  trace_error(trace, "%s", result.error.c_str());
  return errAuthorizationInternal;
}

}  // namespace

os_status_t authenticate_administrator(const std::string& right, const std::string& description) {
  if (::access(kAuthorizationAgentPath, X_OK) == 0) {
    return authenticate_with_agent(right, description);
  }
  return authenticate_with_polkit(right, description);
}

}  // namespace platform::authorization
