#include "platform/security/marker_extensions.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/security/openssl_handles.h"

namespace platform {
namespace {

constexpr const char* leaf_marker = "1.2.840.113635.100.6.1.13";
constexpr const char* intermediate_marker = "1.2.840.113635.100.6.2.6";

using object_ptr_t = std::unique_ptr<ASN1_OBJECT, openssl::deleter_t<ASN1_OBJECT_free>>;

// True when every critical extension OpenSSL does not handle is the marker of this position.
bool only_markers_unhandled(X509* certificate, bool leaf) {
  static const object_ptr_t leaf_oid(OBJ_txt2obj(leaf_marker, 1));
  static const object_ptr_t intermediate_oid(OBJ_txt2obj(intermediate_marker, 1));
  const ASN1_OBJECT* marker = leaf ? leaf_oid.get() : intermediate_oid.get();
  if (marker == nullptr) return false;
  for (int i = 0; i < X509_get_ext_count(certificate); ++i) {
    X509_EXTENSION* extension = X509_get_ext(certificate, i);
    if (X509_EXTENSION_get_critical(extension) == 0 || X509_supported_extension(extension) != 0) {
      continue;
    }
    if (OBJ_cmp(X509_EXTENSION_get_object(extension), marker) != 0) return false;
  }
  return true;
}

}  // namespace

int accept_code_signing_markers(int ok, X509_STORE_CTX* context) {
  if (ok != 0 || X509_STORE_CTX_get_error(context) != X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION) {
    return ok;
  }
  X509* certificate = X509_STORE_CTX_get_current_cert(context);
  const bool leaf = X509_STORE_CTX_get_error_depth(context) == 0;
  if (certificate == nullptr || !only_markers_unhandled(certificate, leaf)) return ok;
  X509_STORE_CTX_set_error(context, X509_V_OK);
  return 1;
}

}  // namespace platform
