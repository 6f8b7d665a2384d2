#include "platform/run_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace quillo {

namespace {

// What the signal handler needs, in plain storage: it may only make system
// calls, so it can neither allocate nor look at a std::string.
int g_dirFd = -1;
pid_t g_owner = 0;
constexpr int kCleanSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[sizeof kCleanSignals / sizeof kCleanSignals[0]];

// Plain storage too: the directory is removed at exit, after static
// objects may already be gone.
char g_path[4096];

// Unlinks every entry of the open directory `fd`, with system calls alone,
// so that the signal handler can use it too. An entry removed while the
// directory is read can hide the next one from that pass: passes repeat
// until one finds nothing left.
void RemoveEntries(int fd) {
#ifdef __linux__
  alignas(8) char buffer[4096];
  for (int pass = 0; pass < 16; ++pass) {
    bool removed = false;
    if (lseek(fd, 0, SEEK_SET) != 0) return;
    for (;;) {
      const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
        unsigned short length = 0;
        std::memcpy(&length, buffer + at + 16, sizeof length);
        const char* name = buffer + at + 19;
        at += length;
        if (length == 0) return;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        if (unlinkat(fd, name, 0) == 0 || unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
      }
    }
    if (!removed) return;
  }
#else
  const int copy = dup(fd);
  if (copy < 0) return;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    close(copy);
    return;
  }
  while (struct dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    if (unlinkat(fd, name, 0) != 0) unlinkat(fd, name, AT_REMOVEDIR);
  }
  closedir(dir);
#endif
}

// Only the process that made the directory removes it: a child between
// fork and exec must leave it alone.
void RemoveOnSignal(int sig) {
  const int saved = errno;
  if (g_dirFd >= 0 && getpid() == g_owner) {
    RemoveEntries(g_dirFd);
    // The path was set before the descriptor and is not changed while it is open.
    rmdir(g_path);
  }
  errno = saved;
  for (size_t i = 0; i < sizeof kCleanSignals / sizeof kCleanSignals[0]; ++i) {
    if (kCleanSignals[i] != sig) continue;
    const struct sigaction& previous = g_previous[i];
    if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
      previous.sa_handler(sig);
      return;
    }
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void InstallCleanUp() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(CloseRunDirectory);
  for (size_t i = 0; i < sizeof kCleanSignals / sizeof kCleanSignals[0]; ++i) {
    sigaction(kCleanSignals[i], nullptr, &g_previous[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (!(g_previous[i].sa_flags & SA_SIGINFO) && g_previous[i].sa_handler == SIG_IGN) continue;
    struct sigaction sa {};
    sa.sa_handler = RemoveOnSignal;
    sigemptyset(&sa.sa_mask);
    for (int other : kCleanSignals) sigaddset(&sa.sa_mask, other);
    sigaction(kCleanSignals[i], &sa, nullptr);
  }
}

// Signals are held while the state the handler reads changes.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kCleanSignals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

constexpr char kRunPrefix[] = "quillo-";

// Younger than this, a directory may belong to a run that has made it but
// not yet taken its lock.
constexpr time_t kAbandonedAfterSeconds = 60;

// A run killed outright (SIGKILL, a power cut) could not remove its
// directory. A live run holds a lock on its own; the directories of this
// user that nobody holds and nobody changed for a minute are removed. Their
// entries are unlinked, never followed; a name that is no private directory
// of ours is left alone.
void RemoveAbandonedRunDirectories(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (!dir) return;
  const int baseFd = dirfd(dir);
  while (struct dirent* e = readdir(dir)) {
    const std::string_view name = e->d_name;
    if (!name.starts_with(kRunPrefix) || name.size() != sizeof kRunPrefix - 1 + 6) continue;
    const int fd = openat(baseFd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool ours = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
                      (st.st_mode & 077) == 0 && st.st_mtime < time(nullptr) - kAbandonedAfterSeconds;
    if (ours && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveEntries(fd);
      unlinkat(baseFd, e->d_name, AT_REMOVEDIR);
    }
    close(fd);
  }
  closedir(dir);
}

}  // namespace

std::string TemporaryBaseProblem(const std::string& base) {
  struct stat st {};
  if (base.empty()) return "no directory given";
  if (stat(base.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)) return "writable by others without the sticky bit";
  if (st.st_uid != geteuid() && st.st_uid != 0) return "owned by another user";
  return {};
}

bool OpenRunDirectory(const std::string& base, std::string& why) {
  CloseRunDirectory();
  why = TemporaryBaseProblem(base);
  if (!why.empty()) return false;
  RemoveAbandonedRunDirectories(base);
  std::string path = base + (base.back() == '/' ? "" : "/") + kRunPrefix + "XXXXXX";
  if (!mkdtemp(path.data())) {
    why = std::strerror(errno);
    return false;
  }
  // mkdtemp asks for 0700 through the umask; a umask that takes the owner's
  // own bits away must not make the directory unusable.
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 || fchmod(fd, S_IRWXU) != 0) {
    why = std::strerror(errno);
    if (fd >= 0) close(fd);
    rmdir(path.c_str());
    return false;
  }
  if (path.size() >= sizeof g_path) {
    why = std::strerror(ENAMETOOLONG);
    close(fd);
    rmdir(path.c_str());
    return false;
  }
  // The lock tells later runs that the directory is in use; it goes with the
  // descriptor, which no program this run starts inherits. Where the file
  // system has no locks, no run removes another's directory either.
  flock(fd, LOCK_EX | LOCK_NB);
  InstallCleanUp();
  SignalsHeld held;
  std::memcpy(g_path, path.c_str(), path.size() + 1);
  g_owner = getpid();
  g_dirFd = fd;
  return true;
}

void CloseRunDirectory() {
  SignalsHeld held;
  if (g_dirFd < 0) return;
  if (getpid() == g_owner) {
    RemoveEntries(g_dirFd);
    rmdir(g_path);
  }
  close(g_dirFd);
  g_dirFd = -1;
  g_path[0] = '\0';
}

std::string RunDirectory() { return g_path; }

std::string TemporaryPath(std::string_view name) {
  if (g_dirFd < 0) return {};
  std::string path = g_path;
  path += '/';
  path += name;
  return path;
}

}  // namespace quillo
