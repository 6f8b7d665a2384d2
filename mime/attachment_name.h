// The names under which the parts of a message are saved as files. A name
// comes from the sender: it must never reach outside the chosen directory,
// hide itself, or carry bytes that steer a terminal.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// The longest name given to a saved part, in bytes.
constexpr size_t kLongestPartName = 200;

// The file name for part `number` of type `type` (lower case "type/subtype")
// whose decoded name (UTF-8) is `decodedName`: '/', '\\' and control
// characters become '_', as do leading dots; surrounding blanks go; a name
// longer than kLongestPartName bytes is cut at a character boundary before
// its extension, which it keeps. A part without a usable name becomes
// "part-N" with an extension from its type ("part-3.pdf").
std::string SafePartName(std::string_view decodedName, int number, std::string_view type);

// `name` with "-N" put before its extension: "a.pdf" -> "a-2.pdf", "README"
// -> "README-2"; for the names tried when `name` is taken.
std::string NumberedPartName(std::string_view name, int n);

// The extension ("pdf", no dot) a part of `type` is saved with when it
// names none; "bin" for types without a common one.
std::string_view ExtensionForType(std::string_view type);

}  // namespace quillo
