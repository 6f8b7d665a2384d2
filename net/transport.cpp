#include "net/transport.h"

#include "platform/process.h"
#include "platform/socket.h"

namespace quillo {

namespace {
bool g_started = false;
}

int NetStartup() {
  g_started = true;
  return 0;
}

int NetCleanup() {
  g_started = false;
  return 0;
}

static bool OfflineRequested() {
  auto v = GetEnv("QUILLO_OFFLINE");
  return v && !v->empty() && *v != "0";
}

int NetProbe() {
  if (OfflineRequested() || !CanCreateStreamSocket()) return 1;
  if (NetStartup() != 0) return 1;
  return NetCleanup();
}

}  // namespace quillo
