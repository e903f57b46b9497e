#include "client/helperctl_commands.h"

#include <algorithm>
#include <charconv>

namespace helperctl {
namespace {

template <typename value_t>
answer_t answer(const std::optional<value_t>& value) {
  if (!value) return std::nullopt;
  return *value;
}

const std::vector<command_t>& table() {
  using client_t = velmora_client_t;
  using call_t = const invocation_t;
  static const std::vector<command_t> list{
      {"version",
       {},
       "print the helper's version",
       false,
       [](client_t& c, call_t&) { return answer(c.get_version()); }},
      {"install-service",
       {"NS", "USERCONF"},
       "install the launchd service and agent of NS",
       true,
       [](client_t& c, call_t& i) {
         return answer(c.install_velmora_service(i.auth, i.args[0], i.args[1]));
       }},
      {"install",
       {"BUNDLE", "SYSCONF", "NS", "USER"},
       "install the application bundle",
       true,
       [](client_t& c, call_t& i) {
         return answer(c.install_velmora(i.auth, i.args[0], i.args[1], i.args[2], i.args[3]));
       }},
      {"uninstall",
       {"BUNDLE", "SYSCONF", "NS", "USER"},
       "uninstall the application",
       true,
       [](client_t& c, call_t& i) {
         return answer(c.uninstall_velmora(i.auth, i.args[0], i.args[1], i.args[2], i.args[3]));
       }},
      {"fix-maxfiles",
       {},
       "raise launchd's open-files limit if needed",
       false,
       [](client_t& c, call_t&) { return answer(c.fix_os_max_files()); }},
      {"restart",
       {"BUNDLE"},
       "ask for a restart of the application (always NO)",
       false,
       [](client_t& c, call_t& i) { return answer(c.restart_velmora(i.args[0])); }},
      {"reboot",
       {},
       "reboot the computer",
       false,
       [](client_t& c, call_t&) { return answer(c.reboot_computer()); }},
      {"start",
       {"NS"},
       "load or start the service of NS",
       false,
       [](client_t& c, call_t& i) { return answer(c.start_service(i.args[0])); }},
      {"is-installed",
       {"NS"},
       "whether the service list of NS exists",
       false,
       [](client_t& c, call_t& i) { return answer(c.is_service_installed(i.args[0])); }},
      {"is-disabled",
       {"NS"},
       "whether the service of NS is disabled",
       false,
       [](client_t& c, call_t& i) { return answer(c.is_service_disabled(i.args[0])); }},
      {"is-run-at-load",
       {"NS"},
       "whether the service of NS starts at load",
       false,
       [](client_t& c, call_t& i) { return answer(c.is_service_run_at_load(i.args[0])); }},
      {"set-tray",
       {"NAME", "on|off", "BUNDLE"},
       "switch the tray of the application",
       false,
       [](client_t& c, call_t& i) {
         return answer(c.set_tray_enabled(i.args[0], *on_off(i.args[1]), i.args[2]));
       }},
      {"quit",
       {"NS"},
       "quit the service of NS",
       false,
       [](client_t& c, call_t& i) { return answer(c.quit_service(i.args[0])); }},
      {"check-global-settings",
       {},
       "whether you may change the global settings",
       true,
       [](client_t& c, call_t& i) { return answer(c.check_global_settings_auth(i.auth)); }},
      {"set-darkwake",
       {"N"},
       "set the dark-wake mode; prints the previous one",
       false,
       [](client_t& c, call_t& i) { return answer(c.set_darkwake_mode(*number(i.args[0]))); }},
      {"is-autostart",
       {"NS"},
       "whether the agent of NS starts at load",
       false,
       [](client_t& c, call_t& i) { return answer(c.is_autostart_enabled(i.args[0])); }},
      {"set-autostart",
       {"on|off", "NS"},
       "switch the start at load of NS",
       false,
       [](client_t& c, call_t& i) {
         return answer(c.set_autostart_enabled(*on_off(i.args[0]), i.args[1]));
       }},
  };
  return list;
}

}  // namespace

std::span<const command_t> commands() {
  return table();
}

const command_t* find_command(std::string_view name) {
  const auto& list = table();
  const auto found = std::ranges::find(list, name, &command_t::name);
  return found == list.end() ? nullptr : &*found;
}

bool argument_fits(std::string_view parameter, std::string_view value) {
  if (parameter == "on|off") return on_off(value).has_value();
  if (parameter == "N") return number(value).has_value();
  return true;
}

std::optional<bool> on_off(std::string_view text) {
  if (text == "on") return true;
  if (text == "off") return false;
  return std::nullopt;
}

std::optional<std::int32_t> number(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace helperctl
