// Names that must never repeat: Message-ID values and MIME boundaries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// What makes one message's name its own: the moment, the process and
// random bits, so neither two processes nor two machines choose alike.
struct UniqueSeed {
  std::int64_t seconds = 0;
  long microseconds = 0;
  long processId = 0;
  std::uint64_t random = 0;
};

// True for a domain of letters, digits and hyphens in dot-separated labels.
bool IsPlainDomain(std::string_view domain);

// The domain for a Message-ID: the part of `address` after its last "@"
// when it is a plain domain, else `hostName` when that is one, else
// "localhost".
std::string MessageIdDomain(std::string_view address, std::string_view hostName);

// "<SECONDS.MICROS.PID.RANDOM@DOMAIN>", the random bits in hexadecimal.
std::string FormatMessageId(const UniqueSeed& seed, std::string_view domain);

// A multipart boundary no base64 line and no ISO-2022-JP text line can
// hold by chance: it begins with "=_".
std::string FormatBoundary(const UniqueSeed& seed);

}  // namespace quillo

namespace quillo {

// The "<...>" tokens of a References, In-Reply-To or Message-ID value, in
// order; a token without its ">" or with a blank inside is none.
std::vector<std::string_view> MessageIdTokens(std::string_view text);

// The References value of an answer: the original's ids and its own id
// last, the oldest id kept and those after it dropped while the whole would
// exceed `limit` bytes.
std::string ReferencesValue(std::string_view originalReferences, std::string_view originalId, size_t limit);

}  // namespace quillo
