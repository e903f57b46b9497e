#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/security/requirement.h"
#include "tests/platform/security/requirement_reference.h"

namespace codesign_fixtures {
namespace {

struct table_row_t {
  int line = 0;
  std::string expectation;  // "true", "false" or "error@N"
  std::string text;
};

std::vector<table_row_t> read_table() {
  std::vector<table_row_t> rows;
  std::ifstream file(VELMORA_REQUIREMENT_TABLE);
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (line.empty() || line.starts_with("#")) continue;
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) {
      rows.push_back({number, line, {}});
    } else {
      rows.push_back({number, line.substr(0, blank), line.substr(blank + 1)});
    }
  }
  return rows;
}

class RequirementTableTest : public testing::Test {
 protected:
  const std::vector<table_row_t> rows_ = read_table();
  reference_code_t reference_;
};

TEST_F(RequirementTableTest, EveryRowCompilesAndEvaluatesAsExpected) {
  ASSERT_GT(rows_.size(), 150u);
  for (const table_row_t& row : rows_) {
    const std::string text = reference_.fill_in(row.text);
    platform::requirement_error_t error;
    const std::optional<platform::requirement_t> requirement =
        platform::requirement_t::compile(text, error);
    const std::string where = "line " + std::to_string(row.line) + ": " + text;
    if (row.expectation.starts_with("error@")) {
      EXPECT_FALSE(requirement.has_value()) << where;
      EXPECT_EQ("error@" + std::to_string(error.offset), row.expectation) << where << "\n"
                                                                          << error.describe();
      EXPECT_FALSE(error.message.empty()) << where;
      continue;
    }
    ASSERT_TRUE(row.expectation == "true" || row.expectation == "false") << where;
    ASSERT_TRUE(requirement.has_value()) << where << "\n" << error.describe();
    EXPECT_EQ(requirement->is_satisfied_by(reference_.subject()), row.expectation == "true")
        << where;
  }
}

// text -> requirement -> text: the canonical text compiles to a requirement that prints the same
// and decides the same.
TEST_F(RequirementTableTest, CanonicalTextsCompileBackToTheSameRequirement) {
  for (const table_row_t& row : rows_) {
    if (row.expectation.starts_with("error@")) continue;
    const std::optional<platform::requirement_t> first =
        platform::requirement_t::compile(reference_.fill_in(row.text));
    ASSERT_TRUE(first.has_value()) << row.text;
    const std::string canonical = first->canonical_text();
    platform::requirement_error_t error;
    const std::optional<platform::requirement_t> second =
        platform::requirement_t::compile(canonical, error);
    ASSERT_TRUE(second.has_value()) << canonical << "\n" << error.describe();
    EXPECT_EQ(second->canonical_text(), canonical);
    EXPECT_EQ(second->is_satisfied_by(reference_.subject()),
              first->is_satisfied_by(reference_.subject()))
        << canonical;
  }
}

}  // namespace
}  // namespace codesign_fixtures
