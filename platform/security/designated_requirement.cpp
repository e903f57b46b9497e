#include "platform/security/designated_requirement.h"

#include <openssl/objects.h>

#include "platform/security/certificate_fields.h"
#include "platform/security/openssl_handles.h"
#include "platform/security/requirement_text.h"

namespace platform {

namespace {

constexpr const char* kDeveloperIdLeafMarker = "1.2.840.113635.100.6.1.13";
constexpr const char* kDeveloperIdIntermediateMarker = "1.2.840.113635.100.6.2.6";

bool carries(X509* certificate, const char* oid) {
  if (certificate == nullptr) return false;
  const std::unique_ptr<ASN1_OBJECT, openssl::deleter_t<ASN1_OBJECT_free>> object(
      OBJ_txt2obj(oid, 1));
  return object && has_extension(certificate, object.get());
}

}  // namespace

std::string default_designated_requirement(std::string_view identifier, X509* leaf, X509* issuer,
                                           std::string_view team) {
  std::string text =
      "identifier " + requirement_text::quoted(identifier) + " and anchor apple generic";
  if (carries(leaf, kDeveloperIdLeafMarker) && carries(issuer, kDeveloperIdIntermediateMarker)) {
    text += std::string(" and certificate 1[field.") + kDeveloperIdIntermediateMarker +
            "] /* exists */ and certificate leaf[field." + kDeveloperIdLeafMarker +
            "] /* exists */";
  }
  return text + " and certificate leaf[subject.OU] = " + requirement_text::constant(team);
}

}  // namespace platform
