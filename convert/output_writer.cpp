#include "convert/output_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ksvw {

OutputWriter::OutputWriter() : buffer_(new char[kBufferSize]) {}

// An output never closed is abandoned by file_: it never takes the target's place.
OutputWriter::~OutputWriter() = default;

int OutputWriter::OpenOutput(const char* path, OutputFile::Existing existing) {
  if (file_.IsOpen()) CloseOutput();
  outputFailed = 1;
  lineCount = 0;
  pageCount = 0;
  used_ = 0;
  writeFailed_ = false;
  if (!file_.Open(path, existing)) return 0;
  outputFailed = 0;
  return 1;
}

int OutputWriter::CloseOutput() {
  if (!file_.IsOpen()) return -1;
  if (!writeFailed_) Flush();
  if (writeFailed_) {
    file_.Abandon();
  } else if (!file_.Commit()) {
    Fail();
  }
  used_ = 0;
  return writeFailed_ ? -1 : 0;
}

void OutputWriter::AbandonOutput() {
  file_.Abandon();
  used_ = 0;
  outputFailed = 1;
}

void OutputWriter::Fail() {
  writeFailed_ = true;
  outputFailed = 1;
}

bool OutputWriter::Flush() {
  if (!file_.IsOpen() || writeFailed_ || !file_.Write(buffer_.get(), used_)) {
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

bool OutputWriter::RewriteStart(const void* bytes, size_t n) {
  if (outputFailed != 0 || !Flush()) return false;
  if (file_.RewriteStart(bytes, n)) return true;
  if (file_.Error() != 0) Fail();
  return false;
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
