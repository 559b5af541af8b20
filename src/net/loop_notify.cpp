#include "net/loop_notify.h"

#include <atomic>
#include <memory>

namespace net {

TransferNotify NotifyOnLoop(os::MainLoop& loop, TransferNotify handler) {
  auto pending = std::make_shared<std::atomic<std::uint64_t>>(0);
  auto shared = std::make_shared<TransferNotify>(std::move(handler));
  return [&loop, pending, shared](TransferMessage message, int kind, std::uint32_t value,
                                  std::uint64_t id) {
    const bool progress = message == TransferMessage::kProgress;
    // A report already on its way takes these bytes along.
    if (progress && pending->fetch_add(value) != 0) return;
    loop.Post([pending, shared, message, kind, value, id, progress] {
      (*shared)(message, kind, progress ? static_cast<std::uint32_t>(pending->exchange(0)) : value,
                id);
    });
  };
}

}  // namespace net
