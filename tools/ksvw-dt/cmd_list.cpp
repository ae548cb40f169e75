// ksvw-dt list [--delta] FILE
//
// The capture list as tab-separated text: a line of the 19 column titles,
// then one line per record with exactly the texts the list view shows.
#include <cstdio>
#include <cstring>
#include <memory>

#include "capture/capture_reader.h"
#include "convert/list_cells.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

namespace {

constexpr const char kListUsage[] =
    "usage: ksvw-dt list [--delta] FILE\n"
    "\n"
    "Prints the capture list of a DT capture file: a line of the 19 column titles,\n"
    "then one line per record with the cell texts, separated by tabs. With\n"
    "--delta the first column (deltaT) shows the time since the record above.\n"
    "\n"
    "Exit status: 0 success, 1 not a capture file, 2 usage error, 3 output error.\n";

// Standard output through one large buffer of our own.
class Out {
 public:
  static constexpr size_t kSize = 256 * 1024;
  // Room for one whole row: 19 cells and their separators.
  static constexpr size_t kRowRoom = kListColumnCount * kListCellCapacity + 2;

  Out() : buffer_(new char[kSize]) {}
  char* Reserve() {
    if (kSize - used_ < kRowRoom) Flush();
    return buffer_.get() + used_;
  }
  void Commit(char* end) { used_ = static_cast<size_t>(end - buffer_.get()); }
  void Flush() {
    if (used_ != 0 && std::fwrite(buffer_.get(), 1, used_, stdout) != used_) failed_ = true;
    used_ = 0;
  }
  bool Close() {
    Flush();
    if (std::fflush(stdout) != 0) failed_ = true;
    return !failed_;
  }

 private:
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace

int RunList(int argc, char** argv) {
  bool delta = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kListUsage, stdout);
      return kExitOk;
    } else if (std::strcmp(arg, "--delta") == 0) {
      delta = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "ksvw-dt: unknown option '%s'\n\n%s", arg, kListUsage);
      return kExitUsage;
    } else if (path == nullptr) {
      path = arg;
    } else {
      std::fputs("ksvw-dt: list takes one FILE\n", stderr);
      return kExitUsage;
    }
  }
  if (path == nullptr) {
    std::fputs(kListUsage, stderr);
    return kExitUsage;
  }
  const CaptureReader* reader = LoadCapture(path, kReaderOpenedFile);
  if (reader == nullptr) return kExitNotCapture;

  Out out;
  char* p = out.Reserve();
  for (int k = 0; k < kListColumnCount; ++k) {
    const char* title = ListColumnTitle(k, delta);
    size_t n = std::strlen(title);
    std::memcpy(p, title, n);
    p += n;
    *p++ = k + 1 < kListColumnCount ? '\t' : '\n';
  }
  out.Commit(p);
  const int32_t count = reader->RecordCount();
  for (int32_t row = 0; row < count; ++row) {
    p = out.Reserve();
    for (int k = 0; k < kListColumnCount; ++k) {
      p += FormatListCell(*reader, row, k, delta, p);
      *p++ = '\t';
    }
    if (reader->ReadError() != 0) break;  // a row that could not be read is not shown
    p[-1] = '\n';
    out.Commit(p);
  }
  bool ok = out.Close();
  const int readError = reader->ReadError();
  ReleaseCaptureImage(kReaderOpenedFile);
  if (readError != 0) {
    // The rows printed so far stand; the list ends where the file did.
    ReportReadError(path, readError);
    return kExitNotCapture;
  }
  if (!ok) {
    std::fputs("ksvw-dt: writing the list failed\n", stderr);
    return kExitIo;
  }
  return kExitOk;
}

}  // namespace ksvw::dt
