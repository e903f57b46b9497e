#include "platform/security/certificate_fields.h"

#include <openssl/crypto.h>

namespace platform {

namespace {

std::string utf8_text(const ASN1_STRING* value) {
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return {};
  std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

}  // namespace

std::vector<std::string> subject_values(X509* certificate, int nid) {
  std::vector<std::string> values;
  const X509_NAME* subject = X509_get_subject_name(certificate);
  for (int index = X509_NAME_get_index_by_NID(subject, nid, -1); index >= 0;
       index = X509_NAME_get_index_by_NID(subject, nid, index)) {
    values.push_back(utf8_text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index))));
  }
  return values;
}

bool has_extension(X509* certificate, const ASN1_OBJECT* oid) {
  return X509_get_ext_by_OBJ(certificate, oid, -1) >= 0;
}

std::string certificate_digest(X509* certificate, const EVP_MD* type) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate, type, digest, &length) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace platform
