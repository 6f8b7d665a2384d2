#include "platform/keys.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <string>

#include "platform/console_charset.h"
#include "platform/output.h"

namespace quillo {
namespace {

struct KeyState {
  bool ended = false;
  bool lastWasCr = false;
  int pending = -1;  // a byte read ahead while telling Escape from a key sequence
};

KeyState& State() {
  static KeyState state;
  return state;
}

// The mode to put back, visible to the signal handler.
struct termios g_savedMode;
volatile sig_atomic_t g_rawActive = 0;

constexpr int kRestoreSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
// The handlers installed before ours (the run directory's clean-up): they
// still run after the terminal is restored.
struct sigaction g_previousHandlers[std::size(kRestoreSignals)];

void RestoreOnSignal(int sig) {
  if (g_rawActive) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
  for (size_t i = 0; i < std::size(kRestoreSignals); ++i) {
    const struct sigaction& previous = g_previousHandlers[i];
    if (kRestoreSignals[i] != sig || (previous.sa_flags & SA_SIGINFO)) continue;
    if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) break;
    previous.sa_handler(sig);
    return;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallRestoreHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (size_t i = 0; i < std::size(kRestoreSignals); ++i) {
    const int sig = kRestoreSignals[i];
    struct sigaction& old = g_previousHandlers[i];
    sigaction(sig, nullptr, &old);
    if (old.sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = RestoreOnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
  }
}

int g_rawDepth = 0;  // nested raw-mode holders; only the outermost switches

void EnterRaw() {
  if (g_rawDepth++ > 0 || !isatty(STDIN_FILENO)) return;
  if (tcgetattr(STDIN_FILENO, &g_savedMode) != 0) return;
  InstallRestoreHandlers();
  struct termios raw = g_savedMode;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  g_rawActive = 1;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) g_rawActive = 0;
}

void LeaveRaw() {
  if (--g_rawDepth > 0) return;
  if (g_rawActive) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedMode);
  g_rawActive = 0;
}

// Raw mode for the lifetime of one key read.
class RawMode {
 public:
  RawMode() { EnterRaw(); }
  ~RawMode() { LeaveRaw(); }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

// One byte from standard input, or -1 at its end (or on an error).
int ReadByte() {
  if (State().pending >= 0) {
    int b = State().pending;
    State().pending = -1;
    return b;
  }
  unsigned char b = 0;
  for (;;) {
    ssize_t n = read(STDIN_FILENO, &b, 1);
    if (n == 1) return b;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

bool ByteArrivesSoon(int milliseconds) {
  if (State().pending >= 0) return true;
  struct pollfd p {STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, milliseconds) > 0;
}

// How long the rest of a key sequence may lag behind its first byte: a
// terminal sends a sequence in one go, but a loaded machine (or a test typing
// byte by byte) may deliver it in pieces.
constexpr int kEscapeGapMs = 100;
constexpr int kCharacterGapMs = 250;  // only a broken character waits this long

// A terminal sends cursor and function keys as ESC [ ... or ESC O x; they are
// swallowed whole and reported as 0, which the line editor ignores.
int ReadEscapeOrSequence() {
  if (!ByteArrivesSoon(kEscapeGapMs)) return kKeyEscape;
  int next = ReadByte();
  if (next != '[' && next != 'O') {
    State().pending = next;
    return kKeyEscape;
  }
  for (int i = 0; i < 16; ++i) {
    int c = ReadByte();
    if (c < 0 || (c >= 0x40 && c <= 0x7E)) break;
  }
  return 0;
}

int TranslateByte(int b, bool terminal) {
  KeyState& st = State();
  if (b == '\n' && st.lastWasCr) {
    st.lastWasCr = false;
    return -2;  // swallowed
  }
  st.lastWasCr = (b == '\r');
  if (b == '\r' || b == '\n') return kKeyEnter;
  if (b == 0x7F) return kKeyBackspace;
  if (b == kKeyEscape && terminal) return ReadEscapeOrSequence();
  return b;
}

// The rest of a character that a UTF-8 console sends as several bytes, made
// Shift_JIS. A byte that cannot continue the sequence is kept as the next key.
int GatherUtf8(int first, bool terminal, std::string& text) {
  const size_t length = Utf8SequenceLength(static_cast<unsigned char>(first));
  if (length == 0) return kKeyRefused;
  std::string utf8(1, static_cast<char>(first));
  while (utf8.size() < length) {
    if (terminal && !ByteArrivesSoon(kCharacterGapMs)) return kKeyRefused;
    const int b = ReadByte();
    if (b < 0) return kKeyRefused;  // the next read reports the end
    if ((b & 0xC0) != 0x80) {
      State().pending = b;
      return kKeyRefused;
    }
    utf8 += static_cast<char>(b);
  }
  return Utf8CharToSjis(utf8, text) ? kKeyText : kKeyRefused;
}

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int TerminalRows() {
  struct winsize size {};
  if (isatty(STDOUT_FILENO) != 1 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

int ReadConsoleChar(std::string& text) {
  text.clear();
  KeyState& st = State();
  if (st.ended) {
    FlushOut();
    return kEndOfInput;
  }
  const bool terminal = StdinIsTerminal();
  // Raw before the prompt shows: a key answering it must never meet the
  // terminal's own echo and line editing.
  RawMode raw;
  FlushOut();
  for (;;) {
    int b = ReadByte();
    if (b >= 0) b = TranslateByte(b, terminal);
    if (b == -2) continue;
    if (b < 0) {
      st.ended = true;
      return kEndOfInput;
    }
    if (b >= 0x80 && GetConsoleCharset() == ConsoleCharset::kUtf8) return GatherUtf8(b, terminal, text);
    return b;
  }
}

bool KeyWaiting() {
  if (State().ended || !StdinIsTerminal()) return false;
  return ByteArrivesSoon(0);
}

bool InputEnded() { return State().ended; }

RawModeScope::RawModeScope() { EnterRaw(); }
RawModeScope::~RawModeScope() { LeaveRaw(); }

void ResetConsoleKeys() { State() = KeyState{}; }

}  // namespace quillo
