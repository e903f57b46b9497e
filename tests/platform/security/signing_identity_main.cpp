// velmora-test-signing-identity DIR: writes a developer signing chain made for tests and the
// demo: root.pem (the trust anchor), intermediate.pem, leaf.pem and leaf.key. Sign a bundle with
//   velmora-codesign --sign --cert DIR/leaf.pem --key DIR/leaf.key --chain DIR/intermediate.pem
//                    --identifier ID BUNDLE.app
// and trust it by copying root.pem into /etc/codesign/anchors/ of the throwaway root.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/base/command_line.h"
#include "tests/platform/security/fixtures.h"

int main(int argc, char** argv) {
  const platform::command_line::syntax_t syntax{"usage: velmora-test-signing-identity DIR\n"};
  if (const auto status = platform::command_line::check(argc, argv, syntax)) return *status;
  if (argc != 2) {
    return platform::command_line::print_usage(syntax, stderr, platform::command_line::exit_usage);
  }
  const std::filesystem::path directory = argv[1];
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  const codesign_fixtures::chain_t chain = codesign_fixtures::make_developer_chain();
  using codesign_fixtures::write_certificate_pem;
  const bool written =
      !error && write_certificate_pem(directory / "root.pem", chain.root.certificate.get()) &&
      write_certificate_pem(directory / "intermediate.pem", chain.intermediate.certificate.get()) &&
      write_certificate_pem(directory / "leaf.pem", chain.leaf.certificate.get()) &&
      codesign_fixtures::write_key_pem(directory / "leaf.key", chain.leaf.key.get());
  if (!written) {
    std::fprintf(stderr, "velmora-test-signing-identity: cannot write into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
