#include "common/files.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "common/input_file.h"

namespace ksvw {

bool ReadWholeFile(const char* path, std::unique_ptr<uint8_t[]>& image, size_t& size) {
  image.reset();
  size = 0;
  InputFile file;
  if (!file.Open(path)) return false;
  if (file.Size() >= SIZE_MAX) {
    errno = ENOMEM;
    return false;
  }
  const size_t wanted = static_cast<size_t>(file.Size());
  image.reset(new (std::nothrow) uint8_t[wanted ? wanted : 1]);
  if (!image) {
    errno = ENOMEM;
    return false;
  }
  if (wanted != 0 && !file.ReadAt(0, image.get(), wanted)) {
    image.reset();
    return false;
  }
  size = wanted;
  return true;
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
