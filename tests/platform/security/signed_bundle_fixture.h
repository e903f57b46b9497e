#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/security/bundle_validation.h"
#include "platform/security/code_signing.h"
#include "platform/security/requirement.h"
#include "platform/security/trust_store.h"
#include "tests/platform/security/fixtures.h"

namespace codesign_fixtures {

// A scratch directory with the developer chain's trust anchor and an unsigned Velmora.app.
class signed_bundle_test_t : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    anchors_ = scratch_.path("anchors");
    ASSERT_TRUE(write_trust_anchor(anchors_, chain_));
    bundle_ = make_bundle(scratch_.path());
  }

  platform::code_check_t check_on_disk(const platform::requirement_t* requirement) const {
    const platform::openssl::x509_store_ptr_t anchors = platform::load_trust_anchors(anchors_);
    return platform::check_bundle_on_disk(bundle_, requirement, anchors.get());
  }

  static void append_byte(const std::filesystem::path& file) {
    std::ofstream(file, std::ios::binary | std::ios::app).put('\0');
  }

  scratch_directory_t scratch_;
  chain_t chain_ = make_developer_chain();
  std::filesystem::path anchors_;
  std::filesystem::path bundle_;
  const platform::requirement_t client_requirement_ =
      std::move(*platform::requirement_t::compile(kClientRequirement));
};

}  // namespace codesign_fixtures
