// Keys typed while the terminal was still in its cooked mode.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "console/line_input.h"
#include "platform/keys.h"
#include "tests/support/harness.h"

namespace quillo {
namespace {

constexpr int kNoTiocsti = 3;

// A cooked terminal holds typed keys back until Enter, where no poll sees
// them; "-Hit Any Key-" must still not be answered by them.
TEST(LineInputTypeAhead, KeysTypedBeforeHitAnyKeyOnACookedTerminalAreDropped) {
  auto r = test::PtyCall(
      [] {
        struct termios t {};
        tcgetattr(0, &t);
        t.c_lflag |= ICANON;
        tcsetattr(0, TCSANOW, &t);
        for (char c : {'a', 'b'}) {
          if (ioctl(0, TIOCSTI, &c) != 0) return kNoTiocsti;
        }
        WaitAnyKey();
        const int next = ReadConsoleKey();
        return next == 'x' || next == 'y' ? 7 : 1;
      },
      "x" + std::string(40, 'y'));
  if (r.result == kNoTiocsti) GTEST_SKIP() << "TIOCSTI is refused here (sysctl dev.tty.legacy_tiocsti=0)";
  EXPECT_EQ(r.result, 7) << r.output;
}

}  // namespace
}  // namespace quillo
