// The program's version, from the project version the build is given.
#pragma once

namespace quillo {

#ifndef QUILLO_VERSION
#error "the build defines QUILLO_VERSION"
#endif
constexpr const char* kVersion = QUILLO_VERSION;

}  // namespace quillo
