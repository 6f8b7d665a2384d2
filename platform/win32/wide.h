// Between the program's Shift_JIS (CP932) text and the UTF-16 of the wide
// Windows calls, and the Windows spelling of paths. Internal to platform/.
#pragma once

#include <windows.h>
// The program has its own RemoveDirectory (platform/files.h).
#undef RemoveDirectory

#include <string>
#include <string_view>

namespace quillo::win32 {

constexpr UINT kCodePageSjis = 932;

// `text` in code page `codePage` as UTF-16; a byte with no character becomes
// U+FFFD.
inline std::wstring Widen(std::string_view text, UINT codePage = kCodePageSjis) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

// UTF-16 as code page `codePage` (the system's default character for what it
// cannot hold).
inline std::string Narrow(std::wstring_view wide, UINT codePage = kCodePageSjis) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

// A Shift_JIS path for the wide calls.
inline std::wstring WidePath(const std::string& path) { return Widen(path); }

// Owns a Windows handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (Valid()) ::CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace quillo::win32
