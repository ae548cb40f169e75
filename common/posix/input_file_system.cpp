#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/input_file.h"

namespace ksvw {

bool InputFile::Open(const char* path, bool sequential) {
  Close();
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (st.st_size < 0) {
    error = EINVAL;
  }
  if (error != 0) {
    ::close(fd);
    errno = error;
    return false;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  mappable_ = true;
  if (sequential) (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

void InputFile::Close() {
  if (view_ != nullptr) munmap(const_cast<uint8_t*>(view_), size_);
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));
  view_ = nullptr;
  handle_ = kNoHandle;
  size_ = 0;
  mappable_ = false;
}

bool InputFile::ReadAt(uint64_t offset, void* out, size_t n) {
  auto* p = static_cast<uint8_t*>(out);
  while (n > 0) {
    ssize_t got = pread(static_cast<int>(handle_), p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = EIO;
      return false;
    }
    p += got;
    offset += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

const uint8_t* InputFile::Map() {
  if (view_ != nullptr || !mappable_ || size_ == 0 || size_ > SIZE_MAX) return view_;
  void* view = mmap(nullptr, size_, PROT_READ, MAP_SHARED, static_cast<int>(handle_), 0);
  if (view != MAP_FAILED) view_ = static_cast<const uint8_t*>(view);
  return view_;
}

}  // namespace ksvw
