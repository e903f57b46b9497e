#pragma once

#include <string_view>

#include "platform/base/once_callback.h"
#include "platform/foundation/property_list.h"
#include "platform/xpc/arguments.h"

namespace platform {

// Sends the one answer of a request.
using xpc_reply_t = once_callback_t<void(property_list::plist_ptr_t value)>;

enum class xpc_dispatch_t { handled, unknown_operation, bad_arguments };

// What a connection exports: the object that carries out the requests of its interface. The
// connection refuses (and ends) on anything but handled.
class xpc_exported_object_t {
 public:
  virtual ~xpc_exported_object_t() = default;
  virtual xpc_dispatch_t dispatch(std::string_view selector, const xpc_arguments_t& arguments,
                                  xpc_reply_t reply) = 0;
};

}  // namespace platform
