// The launchctl stand-in's reading of a launchd property list as a job.
#include <cstdlib>

#include "fuzz/fuzz_support.h"
#include "tools/launchctl/job_property_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz_support::scratch_directory() + "/job.plist";
  fuzz_support::write_file(path, fuzz_support::as_text(data, size));
  const auto job = standin::read_job_property_list(path);
  if (const auto* read = std::get_if<standin::job_t>(&job)) {
    if (!standin::is_usable_label(read->label)) std::abort();
    if (read->program.empty() && read->program_arguments.empty()) std::abort();
  } else if (std::get<standin::job_list_error_t>(job).message.empty()) {
    std::abort();
  }
  return 0;
}
