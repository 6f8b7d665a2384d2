// One typed-line case of the line editor tests: the keys, the limits, and
// what LineInput must give back and echo.
#pragma once

#include <cstddef>
#include <string>

namespace quillo {

struct LineCase {
  const char* name;
  std::string keys;
  size_t max;
  bool masked;
  int result;
  std::string line;
  std::string echo;
};

}  // namespace quillo
