#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

namespace platform {

// The UTF-8 texts of every subject attribute of that kind, in the order of the name.
std::vector<std::string> subject_values(X509* certificate, int nid);

bool has_extension(X509* certificate, const ASN1_OBJECT* oid);

// The digest of the certificate's DER encoding (SHA-1 or SHA-256), as bytes.
std::string certificate_digest(X509* certificate, const EVP_MD* type);

}  // namespace platform
