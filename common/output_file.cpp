#include "common/output_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/output_file_system.h"

namespace ksvw {

namespace {

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// A fresh 32-bit value for every call in every process (splitmix64 over
// the process number, a counter and the clock). O_EXCL keeps a clash safe;
// this only makes one unlikely.
uint32_t NameNumber() {
  static uint64_t counter = 0;
  uint64_t x = (static_cast<uint64_t>(output_fs::ProcessNumber()) << 32) ^ ++counter ^
               static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return static_cast<uint32_t>(x ^ (x >> 31));
}

}  // namespace

std::string TemporaryNameBeside(const std::string& target) {
  size_t name = target.size();
  while (name > 0 && !IsSeparator(target[name - 1])) --name;
  std::string base = target.substr(name, 200);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(NameNumber()));
  return target.substr(0, name) + "." + base + suffix;
}

bool OutputFile::Fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

bool OutputFile::Open(const std::string& path, Existing existing) {
  Abandon();
  error_ = 0;
  keepExisting_ = existing == Existing::Keep;
  standardOutput_ = path == "-";
  if (standardOutput_) {
    std::fflush(stdout);
    output_fs::BinaryMode(stdout);  // our line ends, not the C library's
    file_ = stdout;
    return true;
  }
  output_fs::Kind kind;
  int error = 0;
  if (!output_fs::Examine(path, kind, target_, error)) return Fail(error);
  switch (kind) {
    case output_fs::Kind::Directory: return Fail(EISDIR);
    case output_fs::Kind::Device:
      file_ = std::fopen(path.c_str(), "wb");
      if (file_ == nullptr) return Fail(errno);
      std::setvbuf(file_, nullptr, _IONBF, 0);
      return true;
    case output_fs::Kind::Regular:
      if (keepExisting_) return Fail(EEXIST);
      break;
    case output_fs::Kind::Missing: break;
  }
  const std::string like = kind == output_fs::Kind::Regular ? target_ : std::string();
  for (int attempt = 0; attempt < 100 && file_ == nullptr; ++attempt) {
    temp_ = TemporaryNameBeside(target_);
    file_ = output_fs::CreateNew(temp_, like, error);
    if (file_ == nullptr && error != EEXIST) break;
  }
  if (file_ == nullptr) {
    temp_.clear();
    return Fail(error);
  }
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

bool OutputFile::Write(const void* bytes, size_t n) {
  if (file_ == nullptr || error_ != 0) return Fail(EBADF);
  if (n != 0 && std::fwrite(bytes, 1, n, file_) != n) return Fail(errno);
  return true;
}

bool OutputFile::RewriteStart(const void* bytes, size_t n) {
  if (file_ == nullptr || error_ != 0 || temp_.empty()) return false;
  if (std::fseek(file_, 0, SEEK_SET) != 0) return Fail(errno);
  if (std::fwrite(bytes, 1, n, file_) != n) return Fail(errno);
  if (std::fseek(file_, 0, SEEK_END) != 0) return Fail(errno);
  return true;
}

bool OutputFile::Commit() {
  if (file_ == nullptr) return Fail(EBADF);
  if ((standardOutput_ ? std::fflush(file_) : std::fclose(file_)) != 0) Fail(errno);
  file_ = nullptr;
  if (error_ == 0 && !temp_.empty()) {
    int error = 0;
    if (output_fs::Rename(temp_, target_, !keepExisting_, error)) {
      temp_.clear();
    } else {
      Fail(error);
    }
  }
  if (error_ != 0) {
    Abandon();
    return false;
  }
  return true;
}

void OutputFile::Abandon() {
  if (file_ != nullptr && standardOutput_) {
    std::fflush(file_);
  } else if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = nullptr;
  if (!temp_.empty()) std::remove(temp_.c_str());
  temp_.clear();
}

int WriteOutputFile(const std::string& path, const void* bytes, size_t n) {
  OutputFile file;
  if (file.Open(path) && file.Write(bytes, n) && file.Commit()) return 0;
  return file.Error();
}

std::string OutputErrorText(int error) {
  return std::generic_category().message(error);
}

bool WouldOverwrite(const std::string& output, const std::string& input) {
  if (output == input) return true;
  std::error_code error;
  return std::filesystem::exists(output, error) &&
         std::filesystem::equivalent(output, input, error);
}

}  // namespace ksvw
