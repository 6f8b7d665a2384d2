#include "platform/run_directory.h"

#include <windows.h>
// After windows.h: security descriptors from their text form.
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/win32/wide.h"

namespace quillo {

namespace {

// Plain storage: the directory is removed at exit, after static objects may
// already be gone, and from the console's Ctrl+C thread.
wchar_t g_path[4096];
std::string* g_narrowPath = nullptr;
CRITICAL_SECTION g_lock;

void InitLock() {
  static std::once_flag once;
  std::call_once(once, [] { ::InitializeCriticalSection(&g_lock); });
}

class Locked {
 public:
  Locked() {
    InitLock();
    ::EnterCriticalSection(&g_lock);
  }
  ~Locked() { ::LeaveCriticalSection(&g_lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

// Removes every entry of the directory and then the directory. A link or
// junction in it is removed itself; what it points at is never entered.
void RemoveTree(const wchar_t* dir) {
  std::wstring pattern = std::wstring(dir) + L"\\*";
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = std::wstring(dir) + L"\\" + std::wstring(name);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      }
      const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (link) {
          ::RemoveDirectoryW(path.c_str());
        } else {
          RemoveTree(path.c_str());
        }
      } else {
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryW(dir);
}

void RemoveOpenDirectory() {
  if (g_path[0] == L'\0') return;
  RemoveTree(g_path);
  g_path[0] = L'\0';
}

// Ctrl+C, Ctrl+Break, a closed console window or the end of the session:
// the directory goes before the process does. The event is passed on.
BOOL WINAPI RemoveOnConsoleEvent(DWORD) {
  Locked locked;
  RemoveOpenDirectory();
  return FALSE;
}

void InstallCleanUp() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(CloseRunDirectory);
  ::SetConsoleCtrlHandler(RemoveOnConsoleEvent, TRUE);
}

// "D:P(A;OICI;FA;;;<user>)": the user alone may do anything there, and
// nothing is inherited from the shared directory around it.
struct PrivateSecurity {
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PrivateSecurity() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    alignas(8) unsigned char buffer[256];
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
      const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
      ::LocalFree(sid);
      if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                 nullptr)) {
        attributes.lpSecurityDescriptor = descriptor;
      }
    }
    ::CloseHandle(token);
  }
  ~PrivateSecurity() {
    if (descriptor) ::LocalFree(descriptor);
  }
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;
};

std::string LastErrorText() {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, ::GetLastError(), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring wide = n > 0 && text ? std::wstring(text, n) : std::wstring(L"cannot be made");
  if (text) ::LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.')) wide.pop_back();
  return win32::Narrow(wide);
}

}  // namespace

std::string TemporaryBaseProblem(const std::string& base) {
  if (base.empty()) return "no directory given";
  const DWORD attributes = ::GetFileAttributesW(win32::WidePath(base).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrorText();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "not a directory";
  return {};
}

bool OpenRunDirectory(const std::string& base, std::string& why) {
  CloseRunDirectory();
  why = TemporaryBaseProblem(base);
  if (!why.empty()) return false;
  const std::string prefix =
      base + (IsPathSeparatorAt(base, base.size() - 1) ? std::string() : std::string(1, SeparatorFor(base))) + "quillo-";
  PrivateSecurity security;
  for (int attempt = 0; attempt < 32; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06llx", static_cast<unsigned long long>(RandomBits() & 0xFFFFFF));
    const std::string path = prefix + suffix;
    const std::wstring wide = win32::WidePath(path);
    if (wide.size() >= sizeof g_path / sizeof g_path[0]) {
      why = "name too long";
      return false;
    }
    // Made anew or not at all: a name that exists (a planted directory or
    // link) is never taken over.
    if (!::CreateDirectoryW(wide.c_str(), &security.attributes)) {
      if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
      why = LastErrorText();
      return false;
    }
    InstallCleanUp();
    Locked locked;
    wide.copy(g_path, wide.size());
    g_path[wide.size()] = L'\0';
    if (!g_narrowPath) g_narrowPath = new std::string;  // kept for the whole run, also past exit
    *g_narrowPath = path;
    return true;
  }
  why = "no free name";
  return false;
}

void CloseRunDirectory() {
  Locked locked;
  RemoveOpenDirectory();
  if (g_narrowPath) g_narrowPath->clear();
}

std::string RunDirectory() {
  Locked locked;
  return g_narrowPath ? *g_narrowPath : std::string();
}

std::string TemporaryPath(std::string_view name) {
  const std::string dir = RunDirectory();
  if (dir.empty()) return {};
  return dir + SeparatorFor(dir) + std::string(name);
}

}  // namespace quillo
