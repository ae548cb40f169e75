// The converter's output file: a character writer with its own large buffer,
// CR LF line ends on every platform, and a count of lines and 66-line pages.
//
// A conversion writes tens of millions of characters, so WriteChar is an
// inline put into our buffer; the C library is called once per 256 KiB.
// Unlike a plain buffered stream, every failed write is remembered: a run
// that filled the disk must not pass for a complete file. The file itself is
// an OutputFile: the target is replaced only by a whole output, and a failed
// one leaves the old file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "common/output_file.h"

namespace ksvw {

class OutputWriter {
 public:
  static constexpr size_t kBufferSize = 256 * 1024;
  static constexpr int32_t kLinesPerPage = 66;

  OutputWriter();
  ~OutputWriter();
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Starts a new output for `path` (binary: line ends are written as CR LF
  // here, not by the C library); the file at `path` changes only at
  // CloseOutput. Resets both counters. Returns 1 on success, 0 when the file
  // cannot be created (outputFailed stays 1; Error() says why).
  int OpenOutput(const char* path, OutputFile::Existing existing = OutputFile::Existing::Replace);

  // Flushes and closes the output if one is open and forgets it. Returns 0
  // when every character written since OpenOutput reached the file and it
  // took the target's place; -1 when a write, the flush, the close or that
  // rename failed (the target is then as it was), or when no file was open.
  int CloseOutput();
  // Closes the output without putting it in place: the target stays as it
  // was (for an output whose input could not be read to its end).
  void AbandonOutput();

  // One character; a line feed becomes CR LF and is counted (66 lines make
  // a page). Nothing happens once outputFailed is 1.
  void WriteChar(char c) {
    if (outputFailed) return;
    if (c == '\n') {
      PutLineEnd();
      return;
    }
    if (used_ == kBufferSize && !Flush()) return;
    buffer_[used_++] = c;
  }

  // The same as WriteChar for each of the n characters, copied in bulk.
  void WriteSpan(const char* text, size_t n);
  // WriteSpan for a text known to hold no line feed (a composed row).
  void WritePlain(const char* text, size_t n) {
    if (outputFailed == 0 && kBufferSize - used_ >= n) {
      std::memcpy(buffer_.get() + used_, text, n);
      used_ += n;
      return;
    }
    WriteSpan(text, n);
  }
  // Bytes as they are: no line-end translation and no line count. For
  // binary output, and for text that carries its own line ends.
  void WriteBytes(const void* bytes, size_t n) {
    if (outputFailed == 0 && kBufferSize - used_ >= n) {
      std::memcpy(buffer_.get() + used_, bytes, n);
      used_ += n;
      return;
    }
    WriteBytesSlow(static_cast<const char*>(bytes), n);
  }
  // Bytes over the start of the output, after what is buffered reached the
  // file (OutputFile::RewriteStart): false on a device or pipe, which
  // cannot go back, and after a failure, which fails the output.
  bool RewriteStart(const void* bytes, size_t n);
  // A NUL-terminated text, as WriteChar for each character.
  void WriteText(const char* text);
  // printf-style into a 256-character buffer (longer results are cut), then
  // WriteText.
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 3)))
#endif
  void
  WriteFormatted(const char* format, ...);

  // True once a write, flush or close failed since OpenOutput.
  bool WriteFailed() const {
    return writeFailed_;
  }
  // The errno value of the failed open, write or close (0 when none failed).
  int Error() const {
    return file_.Error();
  }

  // 1 before a successful open, after a failed open and after a failed
  // write; 0 while the output is good.
  int outputFailed = 1;
  // Lines on the current page, and pages completed.
  int32_t lineCount = 0;
  int32_t pageCount = 0;

 private:
  void PutLineEnd() {
    if (kBufferSize - used_ < 2 && !Flush()) return;
    buffer_[used_] = '\r';
    buffer_[used_ + 1] = '\n';
    used_ += 2;
    if (++lineCount == kLinesPerPage) {
      lineCount = 0;
      ++pageCount;
    }
  }
  void WriteBytesSlow(const char* bytes, size_t n);
  // Writes the buffered characters; false (and the output failed) on error.
  bool Flush();
  void Fail();

  OutputFile file_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool writeFailed_ = false;
};

}  // namespace ksvw
