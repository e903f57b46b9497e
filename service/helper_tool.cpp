#include "service/helper_tool.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/foundation/bundle.h"
#include "platform/xpc/listener.h"
#include "service/client_validation.h"
#include "service/velmora_helper_xpc.h"

namespace {

// Seconds since 1 January 2001 00:00:00 UTC, the platform's reference date.
double time_since_reference_date() {
  constexpr double reference_date_since_epoch = 978307200.0;
  const std::chrono::duration<double> since_epoch =
      std::chrono::system_clock::now().time_since_epoch();
  return since_epoch.count() - reference_date_since_epoch;
}

constexpr double idle_seconds = 10.0;

}  // namespace

helper_tool_t::helper_tool_t() {
  const auto name =
      platform::bundle_t::mainBundle().stringForInfoDictionaryKey("CFBundleIdentifier");
  _listener = platform::xpc_listener_t::initWithMachServiceName(name.value_or(""), _trace);
  _listener->setDelegate([this](platform::xpc_listener_t& listener,
                                const std::shared_ptr<platform::xpc_connection_t>& conn) {
    return listener_shouldAcceptNewConnection(listener, conn);
  });
}

helper_tool_t::~helper_tool_t() = default;

void helper_tool_t::run() {
  if (!_listener->resume()) return;
  std::thread([this] { fixOSMaxFilesIfNeedAndReply(bool_reply_t{}); }).detach();
  for (;;) {
    {
      const std::lock_guard guard(_state_lock);
      // A client still being validated has come: ending now would drop it.
      if (_canQuit && !(idle_seconds > time_since_reference_date() - _lastAccess) &&
          !_listener->has_undecided_clients()) {
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

bool helper_tool_t::listener_shouldAcceptNewConnection(
    platform::xpc_listener_t&, const std::shared_ptr<platform::xpc_connection_t>& conn) {
  const auto clients =
      platform::bundle_t::mainBundle().stringsForInfoDictionaryKey("SMAuthorizedClients");
  if (conn == nullptr || clients.empty()) return false;
  auto client = authorized_client(conn->auditToken(), clients.back());
  if (!client) return false;
  conn->setPeerCheck([identity = std::make_shared<platform::guest_identity_t>(std::move(*client))] {
    return identity->change();
  });

  conn->setExportedObject(std::make_shared<velmora_helper_xpc_t>(*this));
  conn->setInvalidationHandler([this, conn] { on_invalidated(conn); });
  std::size_t live = 0;
  {
    const std::lock_guard guard(_state_lock);
    _lastAccess = time_since_reference_date();
    _canQuit = false;
    _activeConnections.push_back(conn);
    live = _activeConnections.size();
  }
  trace_info(_trace, "%d active connections", static_cast<int>(live));
  conn->resume();
  return true;
}

void helper_tool_t::on_invalidated(const std::shared_ptr<platform::xpc_connection_t>& conn) {
  {
    const std::lock_guard guard(_state_lock);
    std::erase(_activeConnections, conn);
    if (!_activeConnections.empty()) return;
    _canQuit = true;
  }
  trace_info(_trace, "last conn invalidated");
}

void helper_tool_t::get_version_with_reply(string_reply_t reply) {
  std::move(reply)(
      platform::bundle_t::mainBundle().stringForInfoDictionaryKey("CFBundleVersion").value_or(""));
}
