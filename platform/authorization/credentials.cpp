#include "platform/authorization/credentials.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace platform::authorization {
namespace {

struct conversation_data_t {
  const std::string* user;
  const std::string* password;
};

void free_responses(pam_response* responses, int count) {
  for (int i = 0; i < count; ++i) {
    if (responses[i].resp != nullptr) {
      std::memset(responses[i].resp, 0, std::strlen(responses[i].resp));
      std::free(responses[i].resp);  // NOLINT: PAM's allocation contract
    }
  }
  std::free(responses);  // NOLINT: PAM's allocation contract
}

// Answers PAM's prompts from the credentials the agent gave; PAM takes ownership of the
// malloc'ed answers.
int converse(int count, const pam_message** messages, pam_response** out, void* context) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  const auto* data = static_cast<const conversation_data_t*>(context);
  auto* responses = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count),
                                                           sizeof(pam_response)));  // NOLINT
  if (responses == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const std::string* answer = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        answer = data->password;
        break;
      case PAM_PROMPT_ECHO_ON:
        answer = data->user;
        break;
      case PAM_ERROR_MSG:
      case PAM_TEXT_INFO:
        continue;
      default:
        free_responses(responses, count);
        return PAM_CONV_ERR;
    }
    responses[i].resp = ::strdup(answer->c_str());
    if (responses[i].resp == nullptr) {
      free_responses(responses, count);
      return PAM_BUF_ERR;
    }
  }
  *out = responses;
  return PAM_SUCCESS;
}

class pam_session_t {
 public:
  pam_session_t(const std::string& user, conversation_data_t* data)
      : conversation_{converse, data} {
    status_ = pam_start(kAuthorizationPamService, user.c_str(), &conversation_, &handle_);
    if (status_ != PAM_SUCCESS) handle_ = nullptr;
  }
  pam_session_t(const pam_session_t&) = delete;
  pam_session_t& operator=(const pam_session_t&) = delete;
  ~pam_session_t() {
    if (handle_ != nullptr) pam_end(handle_, status_);
  }

  bool started() const { return handle_ != nullptr; }
  int authenticate() { return status_ = pam_authenticate(handle_, PAM_DISALLOW_NULL_AUTHTOK); }
  int account_management() { return status_ = pam_acct_mgmt(handle_, PAM_DISALLOW_NULL_AUTHTOK); }

  // The user PAM authenticated, which a module may have changed.
  std::string user() const {
    const void* item = nullptr;
    if (pam_get_item(handle_, PAM_USER, &item) != PAM_SUCCESS || item == nullptr) return {};
    return static_cast<const char*>(item);
  }

 private:
  pam_conv conversation_;
  pam_handle_t* handle_ = nullptr;
  int status_ = PAM_SUCCESS;
};

// Calls a reentrant lookup with a growing buffer until it fits.
template <typename record_t, typename lookup_t>
bool lookup_record(lookup_t lookup, record_t& record, std::vector<char>& buffer) {
  buffer.resize(1024);
  for (;;) {
    record_t* found = nullptr;
    const int error = lookup(&record, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < (1U << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    return error == 0 && found != nullptr;
  }
}

}  // namespace

bool is_member_of_group(const std::string& user, const std::string& group) {
  passwd account{};
  std::vector<char> account_buffer;
  if (!lookup_record(
          [&](passwd* record, char* buffer, std::size_t size, passwd** found) {
            return ::getpwnam_r(user.c_str(), record, buffer, size, found);
          },
          account, account_buffer)) {
    return false;
  }
  ::group members{};
  std::vector<char> group_buffer;
  if (!lookup_record(
          [&](::group* record, char* buffer, std::size_t size, ::group** found) {
            return ::getgrnam_r(group.c_str(), record, buffer, size, found);
          },
          members, group_buffer)) {
    return false;
  }
  std::vector<gid_t> groups(16);
  for (;;) {
    int count = static_cast<int>(groups.size());
    if (::getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count) >= 0) {
      groups.resize(static_cast<std::size_t>(count));
      break;
    }
    if (count <= static_cast<int>(groups.size())) return false;
    groups.resize(static_cast<std::size_t>(count));
  }
  return std::ranges::find(groups, members.gr_gid) != groups.end();
}

credentials_check_t check_administrator_credentials(const std::string& user,
                                                    const std::string& password) {
  conversation_data_t data{&user, &password};
  pam_session_t session(user, &data);
  if (!session.started()) return credentials_check_t::failed;
  switch (session.authenticate()) {
    case PAM_SUCCESS:
      break;
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_CRED_INSUFFICIENT:
    case PAM_MAXTRIES:
      return credentials_check_t::wrong_password;
    default:
      return credentials_check_t::failed;
  }
  // A right password of an expired or locked account does not make an administrator.
  if (session.account_management() != PAM_SUCCESS) return credentials_check_t::not_permitted;
  return is_member_of_group(session.user(), kAdministratorsGroup)
             ? credentials_check_t::administrator
             : credentials_check_t::not_permitted;
}

}  // namespace platform::authorization
