#include "platform/files.h"

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/held_names.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/strings.h"
#include "platform/win32/wide.h"

namespace quillo {

namespace {

using namespace held;
using win32::Handle;
using win32::WidePath;

// Windows counts file times in 100 ns steps from 1601; the stamps count
// nanoseconds from 1970.
constexpr long long kEpochDifference100ns = 116444736000000000LL;

// errno for the last Windows error, as far as callers look at it.
void SetErrnoFromLastError() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_NOT_SAME_DEVICE: errno = EXDEV; break;
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
  }
}

PathKind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

long long NsSince1970(const FILETIME& time) {
  const long long ticks = static_cast<long long>(static_cast<unsigned long long>(time.dwHighDateTime) << 32 |
                                                 time.dwLowDateTime);
  return (ticks - kEpochDifference100ns) * 100;
}

std::optional<FileStamp> StampOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  if (::GetFileType(h) != FILE_TYPE_DISK) return std::nullopt;
  FileStamp stamp;
  stamp.device = info.dwVolumeSerialNumber;
  stamp.inode = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  stamp.size = static_cast<long long>(static_cast<unsigned long long>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
  stamp.writtenNs = NsSince1970(info.ftLastWriteTime);
  return stamp;
}

// Opens what is at `path` for looking at it only (directories too).
HANDLE OpenForLooking(const std::string& path, DWORD extraFlags = 0) {
  return ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | extraFlags, nullptr);
}

}  // namespace

PathKind StatPath(const std::string& path) {
  if (path.empty()) return PathKind::kNone;
  const DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNone;
  return KindOfAttributes(attributes);
}

namespace {

// Flushes the directory's own entries. Windows has no call for a whole file
// system that a user may make; renames are written through as they happen
// (MOVEFILE_WRITE_THROUGH) and every partial file is flushed as it is
// finished, so what is left is the directory itself.
bool FlushDirectory(const std::string& dir) {
  const std::string path = dir.empty() ? "." : dir;
  Handle handle(::CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.Valid()) return StatPath(path) == PathKind::kDirectory;
  ::FlushFileBuffers(handle.Get());
  return true;
}

}  // namespace

bool SyncToDisk(const std::string& dir) { return FlushDirectory(dir); }

bool SyncDirectory(const std::string& dir) { return FlushDirectory(dir); }

bool MakeDirectory(const std::string& path) {
  // A directory made here inherits the ACL of its parent: the user's
  // %APPDATA% and %TEMP% belong to the user alone.
  if (!::CreateDirectoryW(WidePath(path).c_str(), nullptr)) {
    SetErrnoFromLastError();
    return false;
  }
  NoteAdded(path, PathKind::kDirectory);
  return true;
}

bool RemoveDirectory(const std::string& path) {
  if (!::RemoveDirectoryW(WidePath(path).c_str())) {
    SetErrnoFromLastError();
    return false;
  }
  NoteRemoved(path);
  return true;
}

bool RemoveFile(const std::string& path) {
  if (!::DeleteFileW(WidePath(path).c_str())) {
    SetErrnoFromLastError();
    return false;
  }
  NoteRemoved(path);
  return true;
}

bool ForEachDirectoryEntry(const std::string& dir,
                           const std::function<void(std::string_view name, PathKind kind)>& visit) {
  std::string pattern = dir.empty() ? std::string(".") : dir;
  if (!IsPathSeparatorAt(pattern, pattern.size() - 1)) pattern += SeparatorFor(pattern);
  pattern += '*';
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty directory still has "." and ".."; only a missing one fails.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  do {
    const std::wstring_view wide = found.cFileName;
    if (wide == L"." || wide == L"..") continue;
    const std::string name = win32::Narrow(wide);
    PathKind kind = KindOfAttributes(found.dwFileAttributes);
    // A link or junction is looked at through, as the POSIX listing does.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      const std::string base = dir.empty() ? std::string(".") : dir;
      kind = StatPath(base + SeparatorFor(base) + name);
    }
    visit(name, kind);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return true;
}

std::optional<std::string> FindNameIgnoringCase(const std::string& dir, const std::string& name) {
  const std::string base = dir.empty() ? "." : dir;
  const std::string joined = IsPathSeparatorAt(base, base.size() - 1) ? base : base + SeparatorFor(base);
  if (const HeldNames* held = HeldFor(base)) {
    const std::string* found = held->Find(name);
    if (found && StatPath(joined + *found) != PathKind::kNone) return *found;
  }
  // The file system ignores case itself; the listing tells the spelling.
  std::vector<DirEntry> entries;
  if (!ListDirectory(base, entries)) return std::nullopt;
  const std::string* caseOnly = nullptr;
  for (const DirEntry& e : entries) {
    if (e.name == name) return e.name;
    if (!caseOnly && EqualsIgnoreCase(e.name, name)) caseOnly = &e.name;
  }
  if (caseOnly) return *caseOnly;
  return std::nullopt;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists in any
  // letter case, unless it is `from` itself under another case.
  if (!::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH)) {
    SetErrnoFromLastError();
    return false;
  }
  NoteRenamed(from, to);
  return true;
}

bool RenameReplace(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetErrnoFromLastError();
    return false;
  }
  NoteRenamed(from, to);
  return true;
}

bool MoveOwnFile(const std::string& from, const std::string& to) {
  Handle handle(OpenForLooking(from, FILE_FLAG_OPEN_REPARSE_POINT));
  if (!handle.Valid()) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.Get(), &info)) return false;
  const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if ((info.dwFileAttributes & notPlain) != 0 || info.nNumberOfLinks != 1) return false;
  handle.Reset();
  // Without MOVEFILE_COPY_ALLOWED a move to another volume fails.
  return RenameNoReplace(from, to);
}

std::string PartialPath(const std::string& path) { return path + "." + std::to_string(ProcessId()) + ".part"; }

// Windows has no directory descriptors to open files from: files are
// reached by their whole paths.
DirectoryOpenScope::DirectoryOpenScope(const std::string&) {}

DirectoryOpenScope::~DirectoryOpenScope() = default;

bool DirectoryNameScope::RenameNoReplace(std::string_view from, std::string_view to) {
  const char separator = SeparatorFor(path_);
  return quillo::RenameNoReplace(path_ + separator + std::string(from), path_ + separator + std::string(to));
}

std::string CurrentDirectory() {
  const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
  if (length == 0) return {};
  std::wstring wide(length, L'\0');
  const DWORD got = ::GetCurrentDirectoryW(length, wide.data());
  if (got == 0 || got >= length) return {};
  wide.resize(got);
  return win32::Narrow(wide);
}

bool ChangeDirectory(const std::string& path) { return ::SetCurrentDirectoryW(WidePath(path).c_str()) != 0; }

std::string ProgramDirectory(const char* argv0) {
  std::wstring wide(MAX_PATH, L'\0');
  while (true) {
    const DWORD got = ::GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (got == 0) {
      wide.clear();
      break;
    }
    if (got < wide.size()) {
      wide.resize(got);
      break;
    }
    if (wide.size() > 32768) return {};
    wide.resize(wide.size() * 2);
  }
  std::string path = wide.empty() ? std::string(argv0 ? argv0 : "") : win32::Narrow(wide);
  const size_t slash = LastPathSeparator(path);
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

std::optional<FileAccess> AccessOf(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = WidePath(path);
  if (::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    // A file system without security (FAT, a share) has no other owner.
    if (StatPath(path) == PathKind::kNone) return std::nullopt;
    return FileAccess{true, false};
  }
  FileAccess access;
  HANDLE token = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    alignas(8) unsigned char buffer[256];
    DWORD size = 0;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
      const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer);
      access.ownedByUserOrRoot = owner && ::EqualSid(owner, user->User.Sid);
    }
    ::CloseHandle(token);
  }
  if (owner && !access.ownedByUserOrRoot) {
    // The administrators and the system own what an installer put there.
    access.ownedByUserOrRoot = ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                               ::IsWellKnownSid(owner, WinLocalSystemSid);
  }
  if (dacl == nullptr) {
    access.writableByOthers = true;  // no DACL: everyone may do anything
  } else {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!::GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
      const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      const DWORD writing = FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER;
      if ((allowed->Mask & writing) == 0) continue;
      PSID sid = const_cast<DWORD*>(&allowed->SidStart);
      if (::IsWellKnownSid(sid, WinWorldSid) || ::IsWellKnownSid(sid, WinBuiltinUsersSid) ||
          ::IsWellKnownSid(sid, WinAuthenticatedUserSid)) {
        access.writableByOthers = true;
      }
    }
  }
  ::LocalFree(descriptor);
  return access;
}

long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<long long>(static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

int OpenForReading(const std::string& path) {
  // Binary: the CRT's text mode would drop every CR and stop at a Ctrl+Z.
  const int fd = ::_wopen(WidePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  return fd;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  Handle handle(OpenForLooking(path));
  if (!handle.Valid()) return std::nullopt;
  return StampOfHandle(handle.Get());
}

std::optional<FileStamp> StampOfDescriptor(int fd) {
  const intptr_t h = ::_get_osfhandle(fd);
  if (h == -1) return std::nullopt;
  return StampOfHandle(reinterpret_cast<HANDLE>(h));
}

}  // namespace quillo
