#pragma once

#include <openssl/asn1.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/security/openssl_handles.h"
#include "platform/security/requirement_subject.h"

// The nodes of a compiled requirement. Each prints itself in the canonical form, which compiles
// back to the same requirement.
namespace platform {

struct requirement_expression_t {
  virtual ~requirement_expression_t() = default;
  virtual bool evaluate(const requirement_subject_t& subject) const = 0;
  virtual void print(std::string& out) const = 0;
  // How tightly the printed form binds: "or" 1, "and" 2, everything else 3.
  virtual int precedence() const { return 3; }
};

using expression_ptr_t = std::unique_ptr<const requirement_expression_t>;
using asn1_object_ptr_t = std::unique_ptr<ASN1_OBJECT, openssl::deleter_t<ASN1_OBJECT_free>>;

// How a value found in the code is matched.
struct value_match_t {
  enum class operator_t {
    exists,
    absent,
    equal,
    begins_with,  // = value*
    ends_with,    // = *value
    contains,     // = *value*
    less,
    less_equal,
    greater,
    greater_equal,
  };
  operator_t op = operator_t::exists;
  std::string value;

  // text: the value found, or nothing when there is none or it is not a text.
  bool holds(bool present, const std::optional<std::string>& text) const;
  // " /* exists */", " = value*", " >= value": what follows the subject of the match.
  void print(std::string& out) const;
};

// A certificate of the chain counted from the leaf (0); kRootPosition is the anchor, the last.
inline constexpr int kRootPosition = -1;

expression_ptr_t make_constant(bool value);
expression_ptr_t make_not(expression_ptr_t operand);
expression_ptr_t make_and(expression_ptr_t left, expression_ptr_t right);
expression_ptr_t make_or(expression_ptr_t left, expression_ptr_t right);
expression_ptr_t make_identifier(std::string identifier);
// The hash of the code directory: all 32 bytes of its SHA-256, or its first 20.
expression_ptr_t make_cdhash(std::string hash);
expression_ptr_t make_info(std::string key, value_match_t match);
expression_ptr_t make_entitlement(std::string key, value_match_t match);

// "anchor apple" (the vendor's own root) or "anchor apple generic" (any trust anchor).
expression_ptr_t make_anchor_apple(bool generic);
expression_ptr_t make_certificate_trusted(int position);
// sha1: the SHA-1 of the certificate's DER encoding.
expression_ptr_t make_certificate_hash(int position, std::string sha1);
// oid_text: the dotted form, for printing. Only exists and absent apply.
expression_ptr_t make_certificate_extension(int position, asn1_object_ptr_t oid,
                                            std::string oid_text, value_match_t match);
expression_ptr_t make_certificate_subject(int position, int nid, std::string attribute,
                                          value_match_t match);

}  // namespace platform
