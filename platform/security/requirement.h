#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/security/requirement_error.h"

namespace platform {

struct requirement_subject_t;
struct requirement_expression_t;

// A compiled code requirement: an expression of the requirement language that a signed piece of
// code either satisfies or not.
class requirement_t {
 public:
  // Nothing when the text does not compile.
  static std::optional<requirement_t> compile(std::string_view text);
  // The same, with where and why it failed in *error.
  static std::optional<requirement_t> compile(std::string_view text, requirement_error_t& error);

  requirement_t(requirement_t&&) noexcept;
  requirement_t& operator=(requirement_t&&) noexcept;
  ~requirement_t();

  bool is_satisfied_by(const requirement_subject_t& subject) const;
  // The text it was compiled from.
  const std::string& text() const { return text_; }
  // The canonical text: comments dropped, constants quoted and parentheses placed only where
  // needed, certificates named by file as their hash. It compiles back to the same requirement.
  std::string canonical_text() const;

 private:
  requirement_t(std::string text, std::unique_ptr<const requirement_expression_t> root);

  std::string text_;
  std::unique_ptr<const requirement_expression_t> root_;
};

}  // namespace platform
