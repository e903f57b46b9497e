#include "platform/security/requirement.h"

#include "platform/security/requirement_expression.h"
#include "platform/security/requirement_parser.h"

namespace platform {

requirement_t::requirement_t(std::string text, std::unique_ptr<const requirement_expression_t> root)
    : text_(std::move(text)), root_(std::move(root)) {}
requirement_t::requirement_t(requirement_t&&) noexcept = default;
requirement_t& requirement_t::operator=(requirement_t&&) noexcept = default;
requirement_t::~requirement_t() = default;

std::optional<requirement_t> requirement_t::compile(std::string_view text) {
  requirement_error_t ignored;
  return compile(text, ignored);
}

std::optional<requirement_t> requirement_t::compile(std::string_view text,
                                                    requirement_error_t& error) {
  expression_ptr_t root = parse_requirement(text, error);
  if (!root) return std::nullopt;
  return requirement_t(std::string(text), std::move(root));
}

bool requirement_t::is_satisfied_by(const requirement_subject_t& subject) const {
  return root_->evaluate(subject);
}

std::string requirement_t::canonical_text() const {
  std::string text;
  root_->print(text);
  return text;
}

}  // namespace platform
