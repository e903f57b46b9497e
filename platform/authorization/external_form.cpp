#include "platform/authorization/external_form.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/authorization/session_token.h"
#include "platform/base/unique_fd.h"

namespace platform::authorization {
namespace {

std::optional<std::vector<std::uint8_t>> fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> AuthorizationCreateExternalForm(std::string* error) {
  session_token_t token{};
  if (RAND_bytes(token.data(), static_cast<int>(token.size())) != 1) {
    return fail(error, "no random bytes for a session token");
  }
  // O_EXCL: a token is registered once, by whoever creates it; the file's owner is the
  // session's user, and nobody else may read it.
  const std::string path = session_file_path(kAuthorizationSessionDirectory, token);
  unique_fd_t fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) {
    return fail(error,
                "cannot register session " + path + ": " + std::generic_category().message(errno));
  }
  return std::vector<std::uint8_t>(token.begin(), token.end());
}

void AuthorizationDestroyExternalForm(const std::vector<std::uint8_t>& form) {
  if (const auto token = session_token_from_bytes(form)) {
    ::unlink(session_file_path(kAuthorizationSessionDirectory, *token).c_str());
  }
}

}  // namespace platform::authorization
