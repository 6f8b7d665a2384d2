// Base64 (RFC 4648) for what goes out on the wire: SASL exchanges.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// Base64 of `bytes`, without line breaks.
std::string EncodeBase64(std::string_view bytes);

}  // namespace quillo
