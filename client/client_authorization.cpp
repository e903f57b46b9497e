#include "client/client_authorization.h"

#include <utility>

#include "authorization/helper_tool_common.h"
#include "platform/authorization/authorization.h"
#include "platform/authorization/external_form.h"

namespace authorization = platform::authorization;

std::optional<client_authorization_t> client_authorization_t::create(std::string* error) {
  auto form = authorization::AuthorizationCreateExternalForm(error);
  if (!form) return std::nullopt;
  client_authorization_t session(std::move(*form));
  authorization::authorization_ref_t reference;
  if (authorization::AuthorizationCreateFromExternalForm(session.external_form_, &reference) ==
      platform::errAuthorizationSuccess) {
    helper_tool_common_t::setup_authorization_rights(reference);
    authorization::AuthorizationFree(reference, authorization::kAuthorizationFlagDefaults);
  }
  return session;
}

client_authorization_t::client_authorization_t(client_authorization_t&& other) noexcept
    : external_form_(std::exchange(other.external_form_, {})) {}

client_authorization_t::~client_authorization_t() {
  if (!external_form_.empty()) authorization::AuthorizationDestroyExternalForm(external_form_);
}
