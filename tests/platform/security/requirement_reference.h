#pragma once

#include <filesystem>
#include <string>

#include "platform/foundation/property_list.h"
#include "platform/security/requirement_subject.h"
#include "platform/security/trust_store.h"
#include "tests/platform/security/fixtures.h"

namespace codesign_fixtures {

// The reference code that the requirement table (requirements.txt) is evaluated on; the table's
// head describes it.
class reference_code_t {
 public:
  reference_code_t();

  platform::requirement_subject_t subject() const;
  // The table's text with its placeholders filled in.
  std::string fill_in(std::string text) const;

  chain_t chain_ = make_developer_chain();
  scratch_directory_t scratch_;

 private:
  platform::openssl::x509_stack_ptr_t full_chain_;
  platform::openssl::x509_store_ptr_t anchors_;
  platform::property_list::plist_ptr_t info_;
  platform::property_list::plist_ptr_t entitlements_;
  platform::sha256_t code_directory_hash_{};
};

}  // namespace codesign_fixtures
