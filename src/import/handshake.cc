#include "import/handshake.h"

#include "platform/ui.h"

bool AwaitHandshakeValue(const std::function<std::int32_t()>& read,
                         std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (read() != 1) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    plat::Sleep(1);
  }
  return true;
}
