// The send job: every waiting outbox file offered in turn, and the filing of
// sent mail.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Offers every outbox file. 1 when all were offered, 0 when there was nothing
// to send or the run stopped.
int SendOutbox(std::string& localHostName);

// Shows what the outbox file `name` would send and asks to send, skip or edit
// it. 1 to go on with the next file, 0 to stop the run.
int OfferAndSend(const std::string& name, std::string& localHostName);

// Copies `source` over `destination` byte for byte. The destination is
// replaced in one step, so it is either whole or unchanged. 0 on success, 1
// (after saying so) on failure.
int CopyFile(const std::string& source, const std::string& destination);

// Files `filed`, the copy of what was sent from the outbox file `path`, into
// `folder` and removes the outbox file. The outbox file stays unless the
// filed copy is complete. 0 on success, 1 on failure.
int FileSentMessage(const std::string& path, const std::string& folder, std::string_view filed);

}  // namespace quillo
