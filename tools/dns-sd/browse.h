#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

// Services that a browse finds, one a line: the service type, a blank, the instance name
// ("_sleep-proxy._udp 70-35-60-63.1 Kitchen"). Blank lines and lines starting with # are skipped.
inline constexpr const char* dns_sd_services_path = "/var/run/dns-sd.services";

struct service_t {
  std::string type;
  std::string instance;
};

// The services of the file's text whose type is type (a trailing dot on either side is ignored).
std::vector<service_t> services_of_type(std::string_view file_text, std::string_view type);

// What a browse prints before its first result: the "Browsing for" line, the date, the start
// mark and the column header.
std::string browse_header(std::string_view type, std::string_view domain, const std::timespec& now);

// One "Add" result line; more_coming is the flag that other results follow at once.
std::string browse_result(const service_t& service, std::string_view domain,
                          const std::timespec& now, bool more_coming);

}  // namespace standin
