#pragma once

#include <string_view>

#include "platform/xpc/exported_object.h"
#include "service/helper_tool.h"

// The remote protocol VelmoraHelperXPC as exported to each accepted connection: a request names
// an operation by its selector; its arguments must have the operation's count and types.
class velmora_helper_xpc_t : public platform::xpc_exported_object_t {
 public:
  explicit velmora_helper_xpc_t(helper_tool_t& service) : service_(service) {}

  platform::xpc_dispatch_t dispatch(std::string_view selector,
                                    const platform::xpc_arguments_t& arguments,
                                    platform::xpc_reply_t reply) override;

 private:
  helper_tool_t& service_;
};
