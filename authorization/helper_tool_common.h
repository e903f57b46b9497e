#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/authorization/authorization.h"

// What the rights table holds for one privileged command.
struct command_right_t {
  std::string authRightName;         // the right's name in the authorization database
  std::string authRightDefault;      // the rule the right is created with
  std::string authRightDescription;  // shown when the user is asked for credentials
};

// The privileged commands, keyed by their full selector text.
using command_info_t = std::map<std::string, command_right_t, std::less<>>;

// The table that ties each privileged command to its authorization right, and the operations
// that register and remove those rights. No instances, no state: the table is built per call.
class helper_tool_common_t {
 public:
  helper_tool_common_t() = delete;

  using rights_block_t =
      std::function<void(const std::string& authRightName, const std::string& authRightDefault,
                         const std::string& authRightDescription)>;

  static command_info_t commandInfo();
  static std::vector<std::string> authRightNames();
  static std::optional<std::string> authorization_right_for_command(std::string_view command);
  static void enumerate_rights_using_block(const rights_block_t& block);
  // Creates the rights the database does not know yet; an existing right is never changed.
  static void setup_authorization_rights(
      const platform::authorization::authorization_ref_t& authorization);
  static void delete_authorization_rights(
      const platform::authorization::authorization_ref_t& authorization);
};
