// One-line summaries of message files: file number, date, sender, subject.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace quillo {

// Short: "MM/DD" (5 columns). Long: "YY/MM/DD HH:MM" (14 columns), used by
// folder listings.
enum class DateForm { kShort, kLong };

// The summary buffer every caller was designed around: at most 79 bytes.
constexpr size_t kSummaryCapacity = 80;

// Makes the summary of the message file at `path` into `line`:
// "%4d%c %5s %15s %s" (short) or "%4d%c %14s %15s %s" (long) with `number`, a
// blank marker, the date, up to 15 bytes of the sender and up to 36 bytes of
// the subject. Returns its length, or 0 when the file cannot be opened (an
// error is written to standard error and `line` is left untouched).
int MakeSummary(std::string& line, int number, const std::string& path, DateForm form);
// The same, also giving the stamp of the file as it was read (nothing when it
// could not be opened).
int MakeSummary(std::string& line, int number, const std::string& path, DateForm form,
                std::optional<FileStamp>& stamp);

// The date of a "Date:" value (the text after the colon) in `form`. Returns 1
// and sets `date` when a month name was found, 0 otherwise (`date` untouched).
int ListDate(std::string_view value, DateForm form, std::string& date);

// The heading printed once above the summaries of one retrieval.
void PrintReceivedHeading();

// Prints the short summary of a message file just saved, `number` being the
// server's message number (the number alone when the file cannot be read).
void PrintReceivedSummary(int number, const std::string& path);
// The same for a file just written from `text`: its summary is made from the
// text, as reading the file back would make it.
void PrintReceivedSummaryOfText(int number, std::string_view text);

}  // namespace quillo
