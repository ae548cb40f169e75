#include "convert/output_writer.h"

#include <cstdarg>
#include <cstring>

namespace ksvw {

OutputWriter::OutputWriter() : buffer_(new char[kBufferSize]) {}

OutputWriter::~OutputWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

int OutputWriter::OpenOutput(const char* path) {
  if (file_ != nullptr) CloseOutput();
  outputFailed = 1;
  lineCount = 0;
  pageCount = 0;
  used_ = 0;
  writeFailed_ = false;
  failureError_ = 0;
  file_ = std::fopen(path, "wb");
  if (file_ == nullptr) return 0;
  // Our buffer is the only one: each flush goes straight to the system.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  outputFailed = 0;
  return 1;
}

int OutputWriter::CloseOutput() {
  if (file_ == nullptr) return -1;
  if (!writeFailed_) Flush();
  if (std::fclose(file_) != 0) Fail();
  file_ = nullptr;
  used_ = 0;
  return writeFailed_ ? -1 : 0;
}

void OutputWriter::Fail() {
  // The C library has just set errno for the call that failed.
  if (!writeFailed_) failureError_ = errno;
  writeFailed_ = true;
  outputFailed = 1;
}

bool OutputWriter::Flush() {
  if (file_ == nullptr || writeFailed_) {
    Fail();
    return false;
  }
  size_t done = used_ == 0 ? 0 : std::fwrite(buffer_.get(), 1, used_, file_);
  if (done != used_) {
    Fail();
    return false;
  }
  used_ = 0;
  return true;
}

void OutputWriter::WriteSpan(const char* text, size_t n) {
  while (n > 0 && outputFailed == 0) {
    const void* lf = std::memchr(text, '\n', n);
    if (lf == nullptr) return WriteBytesSlow(text, n);
    size_t plain = static_cast<size_t>(static_cast<const char*>(lf) - text);
    WriteBytesSlow(text, plain);
    if (outputFailed != 0) return;
    PutLineEnd();
    text += plain + 1;
    n -= plain + 1;
  }
}

void OutputWriter::WriteBytesSlow(const char* bytes, size_t n) {
  while (n > 0 && outputFailed == 0) {
    if (used_ == kBufferSize && !Flush()) return;
    size_t room = kBufferSize - used_;
    size_t take = n < room ? n : room;
    std::memcpy(buffer_.get() + used_, bytes, take);
    used_ += take;
    bytes += take;
    n -= take;
  }
}

void OutputWriter::WriteText(const char* text) {
  WriteSpan(text, std::strlen(text));
}

void OutputWriter::WriteFormatted(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  WriteText(line);
}

}  // namespace ksvw
