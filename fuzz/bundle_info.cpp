// A client bundle's Info.plist as the code checks read it from disk: the bundle of a main
// executable and the main executable a bundle names. The first input byte says what is found at
// Contents/Info.plist; the rest is that file's contents.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "fuzz/fuzz_support.h"
#include "platform/foundation/property_list.h"
#include "platform/security/bundle.h"

namespace {

namespace fs = std::filesystem;

enum class placement_t : std::uint8_t {
  regular,       // the file itself
  link_to_file,  // a link to a regular file elsewhere
  directory,     // a directory
  link_to_zero,  // a link to /dev/zero, endless
  fifo,          // a named pipe nobody writes to
  count,
};

const fs::path& bundle() {
  static const fs::path path = [] {
    fs::path bundle_path = fs::path(fuzz_support::scratch_directory()) / "Client.app";
    fs::create_directories(bundle_path / "Contents" / "MacOS");
    fuzz_support::write_file(bundle_path / "Contents" / "MacOS" / "Velmora", "executable");
    return bundle_path;
  }();
  return path;
}

void place_info_plist(placement_t placement, std::string_view bytes) {
  const fs::path info = platform::info_plist_path(bundle());
  const fs::path aside = fs::path(fuzz_support::scratch_directory()) / "info-aside";
  std::error_code ignored;
  fs::remove_all(info, ignored);
  switch (placement) {
    case placement_t::regular:
      fuzz_support::write_file(info, bytes);
      break;
    case placement_t::link_to_file:
      fuzz_support::write_file(aside, bytes);
      fs::create_symlink(aside, info);
      break;
    case placement_t::link_to_zero:
      fs::create_symlink("/dev/zero", info);
      break;
    case placement_t::fifo:
      if (::mkfifo(info.c_str(), 0600) != 0) std::abort();
      break;
    case placement_t::directory:
      fs::create_directory(info);
      break;
    case placement_t::count:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto placement =
      static_cast<placement_t>(data[0] % static_cast<std::uint8_t>(placement_t::count));
  const std::string_view bytes = fuzz_support::as_text(data + 1, size - 1);
  place_info_plist(placement, bytes);

  const auto info = platform::property_list::parse(bytes);
  const auto name = platform::main_executable_name(info.get());
  if (name && (name->empty() || name->find('/') != std::string::npos)) std::abort();
  const fs::path executable =
      platform::executable_directory(bundle()) / (name ? *name : std::string("Velmora"));
  const auto found = platform::bundle_of_main_executable(executable);
  if (found && *found != bundle()) std::abort();
  (void)platform::open_main_executable(bundle());
  return 0;
}
