#include "platform/process.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstdio>
#include <vector>

#include "platform/first_line.h"
#include "platform/output.h"
#include "platform/strings.h"
#include "platform/win32/wide.h"

namespace quillo {

namespace {

using win32::Handle;

std::optional<std::wstring> WideEnv(const wchar_t* name) {
  const DWORD length = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring value(length, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(name, value.data(), length);
  if (got >= length) return std::nullopt;
  value.resize(got);
  return value;
}

}  // namespace

void InitProcess() {
  // The bytes of every stream are the program's, as on every other system:
  // text mode would turn LF into CR LF and stop reading at a Ctrl+Z.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // No dialog box when a drive has no disk or a file cannot be opened.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::optional<std::string> GetEnv(const char* name) {
  const std::optional<std::wstring> value = WideEnv(win32::Widen(name).c_str());
  if (!value) return std::nullopt;
  return win32::Narrow(*value);
}

std::optional<std::string> UserShell() {
  if (auto comspec = GetEnv("COMSPEC"); comspec && !comspec->empty()) return comspec;
  return std::string("cmd.exe");
}

std::string UserSettingsDirectory() {
  auto appData = GetEnv("APPDATA");
  if (!appData || appData->empty()) return {};
  return WithoutTrailingSeparator(*appData) + "\\quillo\\";
}

bool ProcessRunning(long pid) {
  if (pid <= 0) return false;
  if (static_cast<unsigned long>(pid) == ::GetCurrentProcessId()) return true;
  Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
  if (!process.Valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.Get(), &code)) return true;
  return code == STILL_ACTIVE;
}

// cmd.exe keeps everything between double quotes as it is, except '%'. A
// quote inside is doubled: cmd leaves the quoted stretch and enters the next
// one, and the program reads the pair as one quote.
std::string ShellQuote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

// While a child runs, Ctrl+C belongs to it: the console sends the event to
// both, and only the child should end.
class ForegroundChild {
 public:
  ForegroundChild() { ::SetConsoleCtrlHandler(nullptr, TRUE); }
  ~ForegroundChild() { ::SetConsoleCtrlHandler(nullptr, FALSE); }
  ForegroundChild(const ForegroundChild&) = delete;
  ForegroundChild& operator=(const ForegroundChild&) = delete;
};

// An inheritable copy of one of this process's standard handles.
HANDLE InheritableStd(DWORD which) {
  const HANDLE h = ::GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

std::wstring ShellPath() {
  if (auto comspec = WideEnv(L"COMSPEC"); comspec && !comspec->empty()) return *comspec;
  return L"cmd.exe";
}

// "<shell>" /s /c "<command line>": with /s the shell takes away exactly the
// outer pair of quotes and runs what is between as typed.
std::wstring ShellCommandLine(const std::string& commandLine) {
  return L"\"" + ShellPath() + L"\" /s /c \"" + win32::Widen(commandLine) + L"\"";
}

struct Started {
  Handle process;
};

// Starts `commandLine` (a Windows command line) with the given standard
// output (this process's own when null). False when it cannot be started.
bool Start(const std::wstring& application, std::wstring commandLine, HANDLE output, Started& started) {
  Handle in(InheritableStd(STD_INPUT_HANDLE));
  Handle out(output ? nullptr : InheritableStd(STD_OUTPUT_HANDLE));
  Handle err(InheritableStd(STD_ERROR_HANDLE));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.Get();
  startup.hStdOutput = output ? output : out.Get();
  startup.hStdError = err.Get();
  PROCESS_INFORMATION info{};
  const BOOL ok = ::CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
                                   nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
  if (!ok) return false;
  ::CloseHandle(info.hThread);
  started.process.Reset(info.hProcess);
  return true;
}

int WaitForExit(const Started& started) {
  if (::WaitForSingleObject(started.process.Get(), INFINITE) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  if (!::GetExitCodeProcess(started.process.Get(), &code)) return -1;
  return static_cast<int>(code);
}

void ReadFirstLine(HANDLE h, size_t longest, CommandLineOutput& out) {
  ReadFirstLineFrom(
      [h](char* chunk, size_t size) -> long {
        DWORD n = 0;
        if (!::ReadFile(h, chunk, static_cast<DWORD>(size), &n, nullptr)) return -1;
        return static_cast<long>(n);
      },
      longest, out);
}

}  // namespace

CommandLineOutput RunCommandForLine(const std::string& commandLine, size_t longest) {
  CommandLineOutput out;
  FlushOut();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return out;
  Handle reader(readEnd);
  Handle writer(writeEnd);
  // Only the child's end is inherited.
  ::SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
  ForegroundChild foreground;
  Started started;
  const bool ok = Start(ShellPath(), ShellCommandLine(commandLine), writer.Get(), started);
  writer.Reset();
  if (!ok) return out;
  out.started = true;
  ReadFirstLine(reader.Get(), longest, out);
  reader.Reset();
  const int status = WaitForExit(started);
  out.exited = status >= 0;
  out.status = status;
  return out;
}

int RunCommandLine(const std::string& commandLine) {
  FlushOut();
  ForegroundChild foreground;
  Started started;
  if (!Start(ShellPath(), ShellCommandLine(commandLine), nullptr, started)) return -1;
  return WaitForExit(started);
}

int RunProgram(const std::string& program) {
  FlushOut();
  ForegroundChild foreground;
  Started started;
  // Without an application name Windows looks the program up on PATH.
  if (!Start(L"", L"\"" + win32::Widen(program) + L"\"", nullptr, started)) return -1;
  return WaitForExit(started);
}

}  // namespace quillo
