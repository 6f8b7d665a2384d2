// TCP sockets (IPv4 and IPv6), blocking, with optional time-outs.
#pragma once

namespace quillo {

// True when an IPv4 stream socket can be created at all.
bool CanCreateStreamSocket();

}  // namespace quillo
