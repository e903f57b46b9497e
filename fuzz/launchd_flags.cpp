// The "Disabled" and "RunAtLoad" flags of a launchd property list as the service reads and
// rewrites them.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "system/external_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::trace_into_scratch();
  static const std::string path = fuzz_support::scratch_directory() + "/job.plist";
  fuzz_support::write_file(path, fuzz_support::as_text(data, size));

  const bool disabled = ExternalCommands::is_service_disabled(path);
  const bool run_at_load = ExternalCommands::is_service_run_at_load(path);
  // A rewrite that reports success is what the next read sees; the other flag is kept.
  if (ExternalCommands::set_enable_service(path, disabled)) {
    if (ExternalCommands::is_service_disabled(path) == disabled) std::abort();
    if (ExternalCommands::is_service_run_at_load(path) != run_at_load) std::abort();
    if (!ExternalCommands::set_runatload_service(path, !run_at_load)) std::abort();
    if (ExternalCommands::is_service_run_at_load(path) == run_at_load) std::abort();
  }
  return 0;
}
