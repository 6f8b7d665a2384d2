#include "platform/socket.h"

#include <sys/socket.h>
#include <unistd.h>

namespace quillo {

bool CanCreateStreamSocket() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace quillo
