// The download step: the program's download chain into a file beside the
// output, renamed over it only when whole; Ctrl-C, a deadline or a lost
// link cancel or end it and leave nothing behind.
#include <io.h>

#include <cstdio>

#include "common/output_file.h"
#include "tools/ksvw-remote/win32/steps.h"

namespace ksvw::remote {

namespace {

using Wait = Session::Wait;

constexpr uint32_t kCancelMs = 10000;  // a cancelled download to its end

// A new, empty file beside `target` for the download (its name taken, so
// no other run can have it); empty, with the system error left, when none
// can be made there.
std::string ReservePartial(const std::string& target) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryNameBeside(target);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return name;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return "";
}

class DownloadBar {
 public:
  DownloadBar(Session& s, const std::string& name) : session_(s) {
    if (_isatty(_fileno(stderr)) == 0) return;
    s.SetProgress([this, name](int64_t position, int64_t range, int part) {
      const std::string text = ProgressBarText(position, range, part, name);
      width_ = text.size() > width_ ? text.size() : width_;
      std::fprintf(stderr, "\r%s", text.c_str());
      std::fflush(stderr);
    });
  }
  ~DownloadBar() {
    session_.SetProgress(nullptr);
    if (width_ > 0) std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  }

 private:
  Session& session_;
  size_t width_ = 0;
};

// After a download that ended badly: why, and the exit status.
void DownloadFailed(Session& s, const DownloadFile& file, StepOutcome& out) {
  const int32_t code = s.DownloadCode();
  if (s.DownloadFileFailed()) {
    out.exit = kExitFile;
    out.code = code;
    out.message = "cannot write " + file.partial + " for " + file.target + ": " + CodeMessage(code);
  } else {
    LibraryFailed(code, out,
                  s.LinkLost() ? "the link to the analyzer was lost during the download"
                               : "the download failed");
  }
}

}  // namespace

void RunDownload(StepContext& c, const Step& step, StepOutcome& out) {
  Session& s = c.session;
  const std::string& target = step.argument;
  out.json.Text("file", target);
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    out.exit = kExitFile;
    out.message = target + " is a folder";
    return;
  }
  if (s.StatusFlags() & kStatusMeasuring) {
    out.exit = kExitLink;
    out.message =
        "a measurement runs, so the capture memory cannot be read (stop it, or wait-idle)";
    return;
  }
  const DownloadFile file{ReservePartial(target), target};
  if (file.partial.empty()) {
    out.exit = kExitFile;
    out.message = "cannot write beside " + target + ": " + SystemErrorText(GetLastError());
    return;
  }
  const double start = NowMs();
  Wait wait = Wait::Met;
  {
    DownloadBar bar(s, target);
    const int32_t started = s.StartDownload(file);  // a failed start removed the file
    if (started < 0) return LibraryFailed(started, out, "the download did not start");
    wait = s.PumpUntil([&] { return s.DownloadEnded(); }, step.milliseconds,
                       Session::kThroughLinkLoss);
    if (wait != Wait::Met) {
      s.CancelDownload();  // the analyzer is told; the chain ends with the cancel
      s.PumpUntil([&] { return s.DownloadEnded(); }, kCancelMs,
                  Session::kThroughInterrupt | Session::kThroughLinkLoss);
    }
  }
  const double ms = NowMs() - start;
  if (wait != Wait::Met) {
    file.Drop();
    WaitFailed(wait, out, "the download did not end in " + Seconds(step.milliseconds));
    if (wait == Wait::Interrupted) out.message = "interrupted: the download was cancelled";
    if (s.DownloadEnded()) out.code = s.DownloadCode();
    return;
  }
  if (s.DownloadCode() < 0) {
    file.Drop();
    return DownloadFailed(s, file, out);
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(file.partial.c_str(), GetFileExInfoStandard, &data);
  if (!file.Place()) {
    out.exit = kExitFile;
    out.message = "cannot replace " + target + ": " + SystemErrorText(GetLastError());
    file.Drop();
    return;
  }
  const double bytes = static_cast<double>(data.nFileSizeLow) + 4294967296.0 * data.nFileSizeHigh;
  out.json.Integer("bytes", static_cast<int64_t>(bytes))
      .Number("mib_per_s", ms > 0 ? bytes / 1048576.0 / (ms / 1000.0) : 0);
}

}  // namespace ksvw::remote
