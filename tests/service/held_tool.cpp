#include "tests/service/held_tool.h"

#include <chrono>
#include <filesystem>

#include "tests/sandbox/support.h"
#include "tests/support/files.h"

namespace {

std::string gate_for(const std::string& tool_path) {
  return "/var/run/hold-" + std::filesystem::path(tool_path).filename().string();
}

// The gate exists before the tool is replaced, so no call can slip through.
std::string closed_gate(const std::string& tool_path) {
  test_support::write_text(gate_for(tool_path), "");
  return gate_for(tool_path);
}

}  // namespace

held_tool_t::held_tool_t(const std::string& tool_path, const std::string& held,
                         const std::string& body)
    : gate_(closed_gate(tool_path)),
      tool_(tool_path, "[ \"$1\" != " + held + " ] || while [ -e " + gate_ +
                           " ]; do sleep 0.05; done\n" + body) {}

held_tool_t::~held_tool_t() {
  release();
}

bool held_tool_t::called_with(const std::string& first) const {
  // The request reaches the tool after a copy and a validation, which take their time in the
  // ThreadSanitizer tree.
  return sandbox::eventually(
      [&] {
        for (const auto& call : tool_.calls())
          if (!call.empty() && call.front() == first) return true;
        return false;
      },
      std::chrono::seconds(30));
}

void held_tool_t::release() {
  std::filesystem::remove(gate_);
}
