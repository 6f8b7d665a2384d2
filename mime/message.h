// The reader of a stored message that the view, the follow-up and the
// attachment saver share. It goes through the file once, line by line: only
// the text it shows is kept, an attachment is counted, never decoded, unless
// it is the part being saved.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

struct HeaderField {
  std::string name;   // as written ("Subject")
  std::string value;  // raw and still folded: the line breaks of its continuation lines kept
};

struct MessagePart {
  int number = 0;        // the part's place among the message's leaf parts, from 1, depth first
  std::string type;      // lower-case "type/subtype"
  std::string fileName;  // decoded (UTF-8); "" when the part names none
  std::uint64_t size = 0;  // decoded size, or an estimate from the encoded size
  bool shownAsText = false;  // its text is part of the view
};

enum class HeaderMode { kShort, kAll };

struct MessageView {
  // UTF-8: the header block (Date, From, To, Cc, Subject decoded, or every
  // field with kAll), an empty line, the text of the message, then one line
  // per other part such as "[2] 見積書.pdf (application/pdf, 120 KB)".
  std::string text;
  // Where in `text` the attachment lines begin (text.size() when none).
  size_t attachmentLinesAt = 0;
  // The parts listed after the text, in order (shownAsText is false for all).
  std::vector<MessagePart> attachments;
  // The message carries no MIME encoding: one text part in the character set
  // it is stored in, no encoded-words in its header. Its stored bytes, shown
  // as they are, are its whole view.
  bool storedAsShown = false;
};

// Builds the view of the message file at `path`. 0 on success, -1 when the
// file cannot be opened or read.
int BuildMessageView(const std::string& path, HeaderMode mode, MessageView& view);
// The same for a message in memory.
void BuildMessageViewFromText(std::string_view message, HeaderMode mode, MessageView& view);

// Writes exactly the decoded bytes of part `number` through `write` (which
// returns false when it could not write). 0 on success, -1 when the file
// cannot be read, -2 when the message has no such part, -3 when `write` failed.
using PartWriter = std::function<bool(std::string_view bytes)>;
int SavePart(const std::string& path, int number, const PartWriter& write);
int SavePartFromText(std::string_view message, int number, const PartWriter& write);

// The decoded text of the message for quoting in a follow-up: the text the
// view shows, without its header block and attachment lines. Empty when the
// file cannot be read.
std::string QuotableText(const std::string& path);

// The header fields of the message file in order, raw. 0, or -1 when the file
// cannot be read.
int ReadHeaderFields(const std::string& path, std::vector<HeaderField>& fields);

// The value of the first field named `name` (any letter case) among
// `fields`, raw; "" when there is none.
std::string_view FindField(const std::vector<HeaderField>& fields, std::string_view name);

}  // namespace quillo
