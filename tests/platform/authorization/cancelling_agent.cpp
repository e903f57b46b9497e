#include "tests/platform/authorization/cancelling_agent.h"

#include <systemd/sd-bus.h>

#include <chrono>

#include "platform/authorization/polkit.h"

namespace {

constexpr const char* kObjectPath = "/com/corvantix/Velmora/TestAgent";

int begin_authentication(sd_bus_message* call, void* data, sd_bus_error*) {
  ++*static_cast<std::atomic<int>*>(data);
  return sd_bus_reply_method_errorf(call, "org.freedesktop.PolicyKit1.Error.Cancelled",
                                    "The user cancelled");
}

int cancel_authentication(sd_bus_message* call, void*, sd_bus_error*) {
  return sd_bus_reply_method_return(call, nullptr);
}

// polkitd calls as its own user; sd-bus refuses calls from other users unless told otherwise.
const sd_bus_vtable kAgentVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("BeginAuthentication", "sssa{ss}sa(sa{sv})", "", begin_authentication,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CancelAuthentication", "s", "", cancel_authentication,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

}  // namespace

cancelling_agent_t::cancelling_agent_t(pid_t subject)
    : thread_([this, subject] { serve(subject); }) {
  while (!ready_)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

cancelling_agent_t::~cancelling_agent_t() {
  stop_ = true;
  thread_.join();
}

void cancelling_agent_t::serve(pid_t subject) {
  sd_bus* bus = nullptr;
  sd_bus_slot* slot = nullptr;
  const auto process = platform::authorization::polkit_subject_of(subject, 0, -1);
  if (process && sd_bus_open_system(&bus) >= 0 &&
      sd_bus_add_object_vtable(bus, &slot, kObjectPath,
                               "org.freedesktop.PolicyKit1.AuthenticationAgent", kAgentVtable,
                               &asked_) >= 0) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    registered_ =
        sd_bus_call_method(
            bus, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
            "org.freedesktop.PolicyKit1.Authority", "RegisterAuthenticationAgent", &error, nullptr,
            "(sa{sv})ss", "unix-process", 2, "pid", "u", static_cast<std::uint32_t>(process->pid),
            "start-time", "t", process->start_time, "C", kObjectPath) >= 0;
    sd_bus_error_free(&error);
  }
  ready_ = true;
  while (registered_ && !stop_) {
    if (sd_bus_process(bus, nullptr) > 0) continue;
    sd_bus_wait(bus, std::uint64_t{50} * 1000);
  }
  sd_bus_slot_unref(slot);
  sd_bus_flush_close_unref(bus);
}
