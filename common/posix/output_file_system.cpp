#include "common/output_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ksvw::output_fs {

namespace {

// A link chain longer than this is taken as a loop, as the kernel does.
constexpr int kMaxLinks = 40;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

bool Examine(const std::string& path, Kind& kind, std::string& resolved, int& error) {
  resolved = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat st {};
    if (lstat(resolved.c_str(), &st) != 0) {
      if (errno != ENOENT) break;
      kind = Kind::Missing;
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      kind = S_ISREG(st.st_mode)   ? Kind::Regular
             : S_ISDIR(st.st_mode) ? Kind::Directory
                                   : Kind::Device;
      return true;
    }
    // /dev/stdout and /dev/fd/N lead into /proc, whose links name open
    // files rather than paths (a pipe is "pipe:[N]"): write to them in place.
    if (StartsWith(resolved, "/proc/") || StartsWith(resolved, "/dev/fd/")) {
      kind = Kind::Device;
      resolved = path;
      return true;
    }
    char target[4096];
    ssize_t n = readlink(resolved.c_str(), target, sizeof target - 1);
    if (n < 0) break;
    std::string next(target, static_cast<size_t>(n));
    if (next[0] != '/') next = resolved.substr(0, resolved.rfind('/') + 1) + next;
    resolved = next;
    errno = ELOOP;
  }
  error = errno;
  return false;
}

std::FILE* CreateNew(const std::string& path, const std::string& like, int& error) {
  // A rename needs only the folder's permission: a file its owner made
  // read-only must still refuse to be rewritten, as an open for writing would.
  if (!like.empty() && access(like.c_str(), W_OK) != 0) {
    error = errno;
    return nullptr;
  }
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  // A replaced file keeps its permissions (and, written by root, its owner):
  // a private file must not become readable by everyone through a rewrite.
  struct stat old {};
  if (!like.empty() && stat(like.c_str(), &old) == 0) {
    // Best effort on both: a failure leaves the new file as the umask made it.
    if (geteuid() == 0 && fchown(fd, old.st_uid, old.st_gid) != 0) errno = 0;
    fchmod(fd, old.st_mode & 07777);
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = errno;
    close(fd);
    std::remove(path.c_str());
  }
  return file;
}

bool Rename(const std::string& from, const std::string& to, bool replace, int& error) {
  if (replace) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  } else {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    // File systems without RENAME_NOREPLACE: a hard link fails just as
    // atomically when the name is taken.
    if ((errno == EINVAL || errno == ENOSYS) && link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return true;
    }
  }
  error = errno;
  return false;
}

unsigned long ProcessNumber() {
  return static_cast<unsigned long>(getpid());
}

void BinaryMode(std::FILE*) {}

}  // namespace ksvw::output_fs
