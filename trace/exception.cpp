#include "trace/exception.h"

namespace base {

exception_t::~exception_t() = default;

out_of_memory_exception_t::out_of_memory_exception_t()
    : exception_t("The program ran out of memory.") {}

out_of_memory_exception_t::~out_of_memory_exception_t() = default;

}  // namespace base
