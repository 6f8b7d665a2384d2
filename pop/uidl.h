// Unique-id listings (UIDL): what tells one message on the server from
// another across conversations, whatever its number in each of them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillo {

// A unique id as a server may give it: 1 to 70 bytes from 0x21 to 0x7E.
bool IsUniqueId(std::string_view text);

// A count written in decimal digits alone (no sign, blank or other byte);
// nothing when it is not one or does not fit 63 bits.
std::optional<std::int64_t> CountValue(std::string_view text);

enum class UidlListing { kListed, kRefused, kBroken };

// UIDL for the ids of messages 1 … `count` into `uidls` (entry i for
// message i + 1; "" where the listing gave none that is sound). kRefused for
// a server without UIDL (`uidls` then all empty); kBroken when the
// connection ended before the listing's end line, or the listing ran far
// past `count` lines (the connection is then given up).
UidlListing PopUidlList(int count, std::vector<std::string>& uidls);

// "UIDL n": the id the server now gives message `number`. 1 with `uidl`
// set, 0 when refused or not sound.
int PopMessageUidl(int number, std::string& uidl);

// Whether message `number` is still the one whose id was `uidl` (always,
// for "", a server without UIDL). Said when it is not, so that no DELE is
// sent for it.
bool StillTheListedMessage(int number, const std::string& uidl);

}  // namespace quillo
