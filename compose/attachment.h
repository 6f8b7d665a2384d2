// Files sent along with a message: read within bounds, and laid out as a
// base64 MIME part.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The most one message carries in attached files, all together: what mail
// providers commonly accept.
constexpr long long kMaxAttachedBytes = 25LL * 1024 * 1024;

struct Attachment {
  std::string path;
  std::string bytes;
};

// Reads the file `path` (a regular file) into `file`, when it holds at most
// `limit` bytes. False after saying why.
bool ReadAttachment(const std::string& path, long long limit, Attachment& file);

// The media type for a file name, from its extension (case ignored);
// "application/octet-stream" for the rest.
std::string_view MediaTypeFor(std::string_view fileName);

// The file name as UTF-8: as it is when it already is UTF-8, else read as
// Shift_JIS (a path typed into a draft); empty when it is neither.
std::string NameAsUtf8(std::string_view fileName);

// The header lines of the part for `fileName` (UTF-8), each ending in
// `lineEnd`: Content-Type with an RFC 2047 name for old readers,
// Content-Disposition with the RFC 2231 filename, Content-Transfer-Encoding.
std::string AttachmentHeader(std::string_view fileName, std::string_view lineEnd);

// `bytes` in base64, 76 characters a line, each line ending in `lineEnd`.
std::string Base64Lines(std::string_view bytes, std::string_view lineEnd);

}  // namespace quillo
