#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct requirement_subject_t;
struct requirement_expression_t;

// A compiled code requirement: an expression of the requirement language that a signed piece of
// code either satisfies or not.
class requirement_t {
 public:
  // Nothing when the text does not compile.
  static std::optional<requirement_t> compile(std::string_view text);

  requirement_t(requirement_t&&) noexcept;
  requirement_t& operator=(requirement_t&&) noexcept;
  ~requirement_t();

  bool is_satisfied_by(const requirement_subject_t& subject) const;
  const std::string& text() const { return text_; }

 private:
  requirement_t(std::string text, std::unique_ptr<const requirement_expression_t> root);

  std::string text_;
  std::unique_ptr<const requirement_expression_t> root_;
};

}  // namespace platform
