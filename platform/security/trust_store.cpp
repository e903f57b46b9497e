#include "platform/security/trust_store.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <system_error>
#include <vector>

namespace platform {

namespace {

std::vector<std::filesystem::path> pem_files(const std::filesystem::path& directory) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() == ".pem" && it->is_regular_file(error)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void add_certificates(X509_STORE* store, const std::filesystem::path& file) {
  openssl::bio_ptr_t bio(BIO_new_file(file.c_str(), "r"));
  if (!bio) return;
  while (openssl::x509_ptr_t certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
    X509_STORE_add_cert(store, certificate.get());
  }
  ERR_clear_error();  // the end of the file reads as an error
}

}  // namespace

openssl::x509_store_ptr_t load_trust_anchors(const std::filesystem::path& directory) {
  openssl::x509_store_ptr_t store(X509_STORE_new());
  if (!store) return store;
  X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
  for (const std::filesystem::path& file : pem_files(directory))
    add_certificates(store.get(), file);
  return store;
}

}  // namespace platform
