#include "import/handshake.h"

#include "platform/ui.h"

bool AwaitHandshakeValue(const std::function<std::int32_t()>& read,
                         std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (read() != 1) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    // What is written is committed before the wait, so that the writer that
    // changed the value meanwhile is not kept waiting on this one. The first
    // read comes before any commit: "Loading" = 1 and its read-back are one
    // group, so another import cannot remove the value in between.
    plat::FlushPendingWrites();
    plat::Sleep(1);
  }
  return true;
}
