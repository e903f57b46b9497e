#include "tools/dns-sd/browse.h"

#include <array>
#include <cstdio>

namespace standin {
namespace {

std::string_view without_trailing_dot(std::string_view name) {
  if (name.ends_with('.')) name.remove_suffix(1);
  return name;
}

std::string with_trailing_dot(std::string_view name) {
  return std::string(without_trailing_dot(name)) + ".";
}

std::tm local_time(const std::timespec& now) {
  std::tm parts{};
  ::localtime_r(&now.tv_sec, &parts);
  return parts;
}

// "HH:MM:SS.mmm", the hour padded with a blank.
std::string timestamp(const std::timespec& now) {
  const auto parts = local_time(now);
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%2d:%02d:%02d.%03ld", parts.tm_hour, parts.tm_min,
                parts.tm_sec, now.tv_nsec / 1000000);
  return text.data();
}

std::string date_line(const std::timespec& now) {
  const auto parts = local_time(now);
  std::array<char, 64> text{};
  std::strftime(text.data(), text.size(), "DATE: ---%a %d %b %Y---\n", &parts);
  return text.data();
}

}  // namespace

std::vector<service_t> services_of_type(std::string_view file_text, std::string_view type) {
  std::vector<service_t> found;
  while (!file_text.empty()) {
    const auto end = file_text.find('\n');
    auto line = file_text.substr(0, end);
    file_text.remove_prefix(end == std::string_view::npos ? file_text.size() : end + 1);
    const auto blank = line.find(' ');
    if (line.empty() || line.starts_with('#') || blank == std::string_view::npos) continue;
    const auto line_type = line.substr(0, blank);
    if (without_trailing_dot(line_type) != without_trailing_dot(type)) continue;
    found.push_back({std::string(line_type), std::string(line.substr(blank + 1))});
  }
  return found;
}

std::string browse_header(std::string_view type, std::string_view domain,
                          const std::timespec& now) {
  std::string header = "Browsing for " + std::string(without_trailing_dot(type)) + "." +
                       std::string(without_trailing_dot(domain)) + "\n";
  header += date_line(now);
  header += timestamp(now) + "  ...STARTING...\n";
  header +=
      "Timestamp     A/R    Flags  if Domain               Service Type         Instance Name\n";
  return header;
}

std::string browse_result(const service_t& service, std::string_view domain,
                          const std::timespec& now, bool more_coming) {
  std::array<char, 512> text{};
  std::snprintf(text.data(), text.size(), "%s  Add %8d %3d %-20s %-20s %s\n",
                timestamp(now).c_str(), more_coming ? 3 : 2, 1, with_trailing_dot(domain).c_str(),
                with_trailing_dot(service.type).c_str(), service.instance.c_str());
  return text.data();
}

}  // namespace standin
