#pragma once

#include <span>
#include <string_view>

#include "platform/xpc/exported_object.h"
#include "service/helper_tool.h"

// The remote protocol VelmoraHelperXPC as exported to each accepted connection: a request names
// an operation by its selector; its arguments must have the operation's count and types.
class velmora_helper_xpc_t : public platform::xpc_exported_object_t {
 public:
  struct operation_t {
    std::string_view selector;
    std::span<const platform::xpc_type_t> arguments;
    platform::xpc_type_t reply;
    void (*invoke)(helper_tool_t& service, const platform::xpc_arguments_t& arguments,
                   const platform::xpc_reply_t& reply);
  };

  // The operations in the order in which the protocol declares them.
  static std::span<const operation_t> operations();

  explicit velmora_helper_xpc_t(helper_tool_t& service) : service_(service) {}

  platform::xpc_dispatch_t dispatch(std::string_view selector,
                                    const platform::xpc_arguments_t& arguments,
                                    const platform::xpc_reply_t& reply) override;

 private:
  helper_tool_t& service_;
};
