// The single TCP connection of the program and its protocol log.
#pragma once

namespace quillo {

// Starts the network layer (a no-op on POSIX apart from the flag). 0 or -1.
int NetStartup();
// Shuts it down again; 0.
int NetCleanup();
// 0 when the network layer can be used. Non-zero when no stream socket can be
// created, or when QUILLO_OFFLINE is set to a non-empty value other than "0".
int NetProbe();

}  // namespace quillo
