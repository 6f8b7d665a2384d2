// The POP3 jobs of the dispatcher: receiving mail and showing the list of
// messages waiting on the server.
#pragma once

#include <string>

#include "pop/header_list.h"

namespace quillo {

// Receives mail into `folder` (every message, or those the user picks from
// the header list, by the headlist setting). 1 when the conversation ran to
// QUIT, 0 when it stopped early.
int ReceiveMail(const std::string& password, const std::string& folder);

// Prints the server's header list, into `fileName` when `toFile` is set (the
// console when it cannot be opened); from the cache when there is no network,
// no connection or no login. 0 when printed, non-zero when no list was had.
int ShowServerHeaders(const std::string& password, int toFile, const std::string& fileName);

// Builds the header list online into `list` and saves it to the cache. 0
// with the message count in `count`, non-zero when no list could be built.
int FetchHeaderList(const std::string& password, HeaderList& list, int& count);

}  // namespace quillo
