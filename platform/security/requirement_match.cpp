#include "platform/security/info_text_order.h"
#include "platform/security/requirement_expression.h"
#include "platform/security/requirement_text.h"

namespace platform {

using operator_t = value_match_t::operator_t;

bool value_match_t::holds(bool present, const std::optional<std::string>& text) const {
  if (op == operator_t::exists) return present;
  if (op == operator_t::absent) return !present;
  if (!text) return false;
  switch (op) {
    case operator_t::equal:
      return *text == value;
    case operator_t::begins_with:
      return text->starts_with(value);
    case operator_t::ends_with:
      return text->ends_with(value);
    case operator_t::contains:
      return text->find(value) != std::string::npos;
    case operator_t::less:
      return compare_info_texts(*text, value) < 0;
    case operator_t::less_equal:
      return compare_info_texts(*text, value) <= 0;
    case operator_t::greater:
      return compare_info_texts(*text, value) > 0;
    case operator_t::greater_equal:
      return compare_info_texts(*text, value) >= 0;
    default:  // exists and absent are decided above
      return false;
  }
}

void value_match_t::print(std::string& out) const {
  const std::string operand = requirement_text::constant(value);
  switch (op) {
    case operator_t::exists:
      out += " /* exists */";
      break;
    case operator_t::absent:
      out += " absent";
      break;
    case operator_t::equal:
      out += " = " + operand;
      break;
    case operator_t::begins_with:
      out += " = " + operand + "*";
      break;
    case operator_t::ends_with:
      out += " = *" + operand;
      break;
    case operator_t::contains:
      out += " = *" + operand + "*";
      break;
    case operator_t::less:
      out += " < " + operand;
      break;
    case operator_t::less_equal:
      out += " <= " + operand;
      break;
    case operator_t::greater:
      out += " > " + operand;
      break;
    case operator_t::greater_equal:
      out += " >= " + operand;
      break;
  }
}

}  // namespace platform
