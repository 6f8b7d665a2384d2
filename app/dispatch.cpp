#include "app/dispatch.h"

namespace quillo {

// The jobs are wired in as their subsystems land.
int Dispatch(const std::string& word) {
  (void)word;
  return 0;
}

}  // namespace quillo
