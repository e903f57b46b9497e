#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "tools/launchctl/job.h"

namespace standin {

// A resource limit as launchctl takes it: each value a number or "unlimited".
struct limit_t {
  std::string soft;
  std::string hard;

  bool operator==(const limit_t&) const = default;
};

// The stand-in launchd's state: one property list per loaded job ("<label>.plist", the job's own
// keys plus the PID and PIDStartTime of its running process) and one file per recorded limit
// ("limit.<name>"). Each launchctl call holds the store's lock from open to exit, so concurrent
// calls see each other's changes whole.
class job_store_t {
 public:
  static constexpr const char* default_directory = "/var/run/launchd";

  static std::optional<job_store_t> open(const std::string& directory);

  std::optional<job_t> find(const std::string& label) const;
  bool save(const job_t& job) const;
  bool remove(const std::string& label) const;
  // Every loaded job, ordered by label.
  std::vector<job_t> all() const;

  bool save_limit(const std::string& name, const limit_t& limit) const;
  std::optional<limit_t> find_limit(const std::string& name) const;

 private:
  job_store_t(std::string directory, platform::unique_fd_t lock)
      : directory_(std::move(directory)), lock_(std::move(lock)) {}

  std::string job_path(const std::string& label) const;

  std::string directory_;
  platform::unique_fd_t lock_;
};

}  // namespace standin
