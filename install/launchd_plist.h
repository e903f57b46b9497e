#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/property_list.h"

// The launchd names of a namespace and the property lists of its service (a launchd daemon) and
// agent (a per-user launchd agent). Install, uninstall and control all form them here.
namespace launchd_plist {

inline constexpr std::string_view service_label_format = "com.corvantix.%@.service";
inline constexpr std::string_view service_plist_format = "/Library/LaunchDaemons/%@.plist";
inline constexpr std::string_view agent_label_format = "com.corvantix.%@.Frontend";
inline constexpr std::string_view agent_plist_format = "/Library/LaunchAgents/%@.plist";

inline constexpr std::string_view service_argument = "--service";
inline constexpr std::string_view agent_argument = "--agent-frontend";

// The format with every "%@" replaced by the object, as the platform's string formatting does.
std::string stringWithFormat(std::string_view format, std::string_view object);

std::string service_label(std::string_view vl_namespace);
std::string service_plist_path(std::string_view vl_namespace);
std::string agent_label(std::string_view vl_namespace);
std::string agent_plist_path(std::string_view vl_namespace);

// A job list of exactly six entries: "Label", "Disabled" false, "RunAtLoad" true, "KeepAlive"
// false, "LaunchOnlyOnce" true, "ProgramArguments" (program path, argument); a seventh,
// "WorkingDirectory", only when one is given.
platform::property_list::plist_ptr_t job_dictionary(
    const std::string& label, const std::string& program_path, std::string_view argument,
    const std::optional<std::string>& working_directory = std::nullopt);

platform::property_list::plist_ptr_t service_dictionary(const std::string& label,
                                                        const std::string& program_path);
platform::property_list::plist_ptr_t agent_dictionary(
    const std::string& label, const std::string& program_path,
    const std::optional<std::string>& working_directory = std::nullopt);

}  // namespace launchd_plist
