#include "common/files.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace ksvw {

bool ReadWholeFile(const char* path, std::unique_ptr<uint8_t[]>& image, size_t& size) {
  image.reset();
  size = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
#if !defined(_WIN32)
  // A directory opens on POSIX systems, and seeking to its end gives a
  // size of 2^63 - 1: refuse it before asking for that much memory.
  struct stat st {};
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return false;
  }
#endif
  bool ok = false;
  // Size from seeking to the end. 64-bit offsets where the platform has them.
#if defined(_WIN32)
  if (_fseeki64(file, 0, SEEK_END) == 0) {
    long long end = _ftelli64(file);
#else
  if (fseeko(file, 0, SEEK_END) == 0) {
    long long end = ftello(file);
#endif
    if (end >= 0 && static_cast<unsigned long long>(end) <= SIZE_MAX &&
        std::fseek(file, 0, SEEK_SET) == 0) {
      size_t wanted = static_cast<size_t>(end);
      image.reset(new (std::nothrow) uint8_t[wanted ? wanted : 1]);
      if (image) {
        size_t got = wanted ? std::fread(image.get(), 1, wanted, file) : 0;
        ok = got == wanted;
        if (ok) size = wanted;
      }
    }
  }
  std::fclose(file);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::unique_ptr<uint8_t[]> image;
  size_t size = 0;
  bytes.clear();
  if (!ReadWholeFile(path.c_str(), image, size)) return false;
  bytes.assign(image.get(), image.get() + size);
  return true;
}

bool JoinPath(const char* folder, const char* name, char* out, size_t capacity) {
  size_t a = std::strlen(folder), b = std::strlen(name);
  bool separator = a > 0 && folder[a - 1] != '\\' && folder[a - 1] != '/';
  size_t total = a + (separator ? 1 : 0) + b;
  if (total + 1 > capacity) return false;
  std::memcpy(out, folder, a);
  if (separator) out[a++] = '\\';
  std::memcpy(out + a, name, b + 1);
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string out(folder.size() + name.size() + 2, '\0');
  JoinPath(folder.c_str(), name.c_str(), out.data(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

}  // namespace ksvw
