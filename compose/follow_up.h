// Drafting a reply to a stored message.
#pragma once

#include <string>

namespace quillo {

// Field capacities, terminator included.
namespace cap {
constexpr size_t kReplyTo = 161, kReplyCc = 161, kReplySubject = 161, kReplyDate = 80, kReplyMessageId = 161;
// The References value (its continuation lines joined) read at most.
constexpr size_t kReplyReferences = 8192;
}  // namespace cap

// Header values of the message being answered, each from right after its
// header name up to and including the line feed (so it starts with the blank
// after the colon). A value too long for its field is cut, and keeps its line
// feed. `references` is the References value with its continuation lines,
// unfolded.
struct ReplyFields {
  std::string replyTo;
  std::string cc;
  std::string subject;
  std::string date;
  std::string messageId;
  std::string references;
};

// Fills `fields` from the header of the message file `path`. 1 when the file
// was read, 0 when it cannot be opened (after saying so).
int ReadReplyFields(const std::string& path, ReplyFields& fields);

// Drafts a reply to the message file `path` in the outbox, optionally quoting
// it, and runs the edit-and-send dialogue. 1 when the reply was sent, else 0.
int DraftFollowUp(const std::string& path, std::string& localHostName);

}  // namespace quillo
