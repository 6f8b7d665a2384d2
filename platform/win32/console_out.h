// Standard output and error on Windows, bypassing the C library's streams:
// its buffer may be written out between the two bytes of a Shift_JIS
// character, which a console then shows as two broken ones. Internal to
// platform/.
#pragma once

#include <string_view>

namespace quillo::win32 {

// `stream` is 1 (output) or 2 (error). Bytes are kept until FlushStream, or
// until the buffer is large, and then written whole characters at a time.
void PutStream(int stream, std::string_view bytes);
void FlushStream(int stream);

}  // namespace quillo::win32
