#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The authorization a privileged request carries, made as the desktop application makes it: a
// new session of this process's user, with the helper's rights that the authorization database
// lacks registered through it (what the application does at launch), ended when this object
// goes so that its external form cannot be used again.
class client_authorization_t {
 public:
  // Nothing, with the reason in *error (when given), when no session could be made.
  static std::optional<client_authorization_t> create(std::string* error);

  client_authorization_t(client_authorization_t&& other) noexcept;
  client_authorization_t& operator=(client_authorization_t&&) = delete;
  client_authorization_t(const client_authorization_t&) = delete;
  client_authorization_t& operator=(const client_authorization_t&) = delete;
  ~client_authorization_t();

  const std::vector<std::uint8_t>& external_form() const { return external_form_; }

 private:
  explicit client_authorization_t(std::vector<std::uint8_t> form)
      : external_form_(std::move(form)) {}

  std::vector<std::uint8_t> external_form_;
};
