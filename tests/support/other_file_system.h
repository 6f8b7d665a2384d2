// A scratch directory on another file system than a sandbox, for what only
// happens between file systems (a move that has to copy). Made in /dev/shm,
// a memory file system on most Linux systems; removed with its content.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/harness.h"

namespace quillo::test {

class OtherFileSystem {
 public:
  explicit OtherFileSystem(const Sandbox& box) {
    struct stat near {}, far {};
    if (stat(box.dir().c_str(), &near) != 0 || stat("/dev/shm", &far) != 0 || near.st_dev == far.st_dev) return;
    std::string tmpl = "/dev/shm/quillo-other-XXXXXX";
    if (mkdtemp(tmpl.data())) dir_ = tmpl;
  }
  ~OtherFileSystem() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  OtherFileSystem(const OtherFileSystem&) = delete;
  OtherFileSystem& operator=(const OtherFileSystem&) = delete;

  // False when no other file system could be had here.
  bool Usable() const { return !dir_.empty(); }
  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

}  // namespace quillo::test
