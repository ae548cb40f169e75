#include "tools/ksvw-remote/win32/steps.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "common/files.h"
#include "common/output_file.h"
#include "keyemu/lcd_display.h"
#include "keyemu/screen_image.h"

namespace ksvw::remote {

namespace {

using Wait = Session::Wait;

constexpr uint32_t kKeyMs = 10000;         // a press to its completion
constexpr uint32_t kFirstScreenMs = 3000;  // the first report once monitoring started
// A screen is taken once no report came for a moment: the analyzer reports
// the screen a key made right behind the key's completion.
constexpr uint32_t kSettleMs = 50;
constexpr uint32_t kSettleLimitMs = 1000;

std::vector<uint8_t> ScreenBmp(const uint8_t* screen, int32_t mode) {
  auto lcd = std::make_unique<keyemu::LcdDisplay>();
  lcd->SetImage(screen);
  return keyemu::BuildScreenBmp(*lcd, mode);
}

// The option board, as the model's text names it after "& ".
const char* BoardOfModel(const char* modelText) {
  const char* board = modelText ? std::strstr(modelText, "& ") : nullptr;
  return board ? board + 2 : "unknown";
}

void RunInfo(StepContext& c, StepOutcome& out) {
  const int32_t model = c.session.Model();
  const char* text = ModelText(model);
  const uint32_t flags = c.session.StatusFlags();
  const bool measuring = (flags & kStatusMeasuring) != 0;
  const std::string link = LinkText(c.settings);
  out.json.Code("model", model)
      .Text("model_text", text ? text : "")
      .Text("board", BoardOfModel(text))
      .Text("link", link)
      .Code("status", static_cast<int32_t>(flags))
      .Flag("measuring", measuring);
  if (c.json) return;
  std::printf("model   0x%05X %s\nboard   %s\nlink    %s\nstatus  0x%08X, %s\n",
              static_cast<unsigned>(model), text ? text : "(unknown model)", BoardOfModel(text),
              link.c_str(), static_cast<unsigned>(flags),
              measuring ? "a measurement runs" : "no measurement runs");
}

void RunKeys(StepContext& c, const Step& step, StepOutcome& out) {
  double total = 0, longest = 0;
  int pressed = 0;
  for (uint32_t value : step.presses) {
    const double start = NowMs();
    int32_t code = 0;
    const Wait wait = c.session.PressKey(value, kKeyMs, code);
    const double took = NowMs() - start;
    if (wait != Wait::Met) {
      WaitFailed(wait, out, "a key press got no completion in " + Seconds(kKeyMs));
      break;
    }
    if (code < 0) {
      LibraryFailed(code, out, "key press " + JsonLine::CodeText(static_cast<int32_t>(value)));
      break;
    }
    total += took;
    longest = took > longest ? took : longest;
    ++pressed;
  }
  out.json.Text("keys", step.argument)
      .Integer("presses", pressed)
      .Number("press_ms_max", longest)
      .Number("press_ms_mean", pressed ? total / pressed : 0);
}

// The analyzer's screen once its first report came and no other came for
// a moment (a screen that keeps changing is taken as it is).
Wait SettledScreen(Session& s, uint8_t* screen) {
  Wait wait = s.PumpUntil([&] { return s.ScreenReports() > 0; }, kFirstScreenMs);
  if (wait != Wait::Met) return wait;
  wait = s.PumpUntil([&] { return s.ScreenQuietMs() >= kSettleMs; }, kSettleLimitMs);
  if (wait != Wait::Met && wait != Wait::TimedOut) return wait;
  return s.CopyScreen(screen) ? Wait::Met : Wait::TimedOut;
}

void RunScreen(StepContext& c, const Step& step, StepOutcome& out) {
  uint8_t screen[kScreenBytes];
  const Wait wait = SettledScreen(c.session, screen);
  out.json.Text("file", step.argument).Integer("mode", step.mode);
  if (wait != Wait::Met) return WaitFailed(wait, out, "the analyzer sent no screen");
  const std::vector<uint8_t> bmp = ScreenBmp(screen, step.mode);
  if (int error = WriteOutputFile(step.argument, bmp.data(), bmp.size())) {
    out.exit = kExitFile;
    out.message = "cannot write " + step.argument + ": " + OutputErrorText(error);
  }
}

// REF.bmp -> REF.current.bmp
std::string BesideReference(const std::string& reference) {
  const size_t dot = reference.rfind('.');
  const size_t name = reference.find_last_of("/\\:");
  const bool extension = dot != std::string::npos && (name == std::string::npos || dot > name);
  return (extension ? reference.substr(0, dot) : reference) + ".current.bmp";
}

int DifferingPixels(const uint8_t* a, const uint8_t* b) {
  int n = 0;
  for (uint32_t i = 0; i < kScreenBytes; ++i)
    for (uint8_t bits = a[i] ^ b[i]; bits; bits &= uint8_t(bits - 1)) ++n;
  return n;
}

void RunExpectScreen(StepContext& c, const Step& step, StepOutcome& out) {
  std::vector<uint8_t> file;
  uint8_t want[kScreenBytes], got[kScreenBytes];
  int32_t mode = 0;
  out.json.Text("file", step.argument);
  if (!ReadWholeFile(step.argument, file) || !keyemu::ScreenFromBmp(file, want, &mode)) {
    out.exit = kExitUsage;
    out.message = step.argument + " is no screen image that ksvw-remote or the key emulator saved";
    return;
  }
  Session& s = c.session;
  const Wait wait =
      s.PumpUntil([&] { return s.CopyScreen(got) && std::memcmp(got, want, kScreenBytes) == 0; },
                  step.milliseconds);
  const bool seen = s.ScreenReports() > 0;
  const int differing = seen ? DifferingPixels(got, want) : 0;
  out.json.Flag("match", wait == Wait::Met).Integer("differing_pixels", differing);
  if (wait == Wait::Met) return;
  if (wait != Wait::TimedOut || !seen)
    return WaitFailed(wait, out, "the analyzer sent no screen in " + Seconds(step.milliseconds));
  const std::string current = BesideReference(step.argument);
  const std::vector<uint8_t> bmp = ScreenBmp(got, mode);
  if (int error = WriteOutputFile(current, bmp.data(), bmp.size())) {
    out.exit = kExitFile;
    out.message = "the screen differs from " + step.argument + ", and " + current +
                  " cannot be written: " + OutputErrorText(error);
    return;
  }
  out.exit = kExitExpectation;
  out.message = "the screen differs from " + step.argument + " in " + std::to_string(differing) +
                " pixels; it is saved as " + current;
  out.json.Text("current", current);
}

void RunWaitScreen(StepContext& c, const Step& step, StepOutcome& out) {
  Session& s = c.session;
  uint8_t before[kScreenBytes], now[kScreenBytes];
  Wait wait = s.PumpUntil([&] { return s.CopyScreen(before); }, kFirstScreenMs);
  if (wait == Wait::Met)
    wait = s.PumpUntil(
        [&] { return s.CopyScreen(now) && std::memcmp(now, before, kScreenBytes) != 0; },
        step.milliseconds);
  WaitFailed(wait, out, "the screen did not change in " + Seconds(step.milliseconds));
}

void RunWaitIdle(StepContext& c, const Step& step, StepOutcome& out) {
  Session& s = c.session;
  const Wait wait =
      s.PumpUntil([&] { return !(s.StatusFlags() & kStatusMeasuring); }, step.milliseconds);
  WaitFailed(wait, out, "a measurement still runs after " + Seconds(step.milliseconds));
}

void RunSleep(StepContext& c, const Step& step, StepOutcome& out) {
  const Wait wait = c.session.PumpUntil([] { return false; }, step.milliseconds);
  if (wait != Wait::TimedOut) WaitFailed(wait, out, "");
}

}  // namespace

void WaitFailed(Session::Wait wait, StepOutcome& out, const std::string& timedOut) {
  switch (wait) {
    case Wait::Interrupted:
      out.exit = kExitInterrupted;
      out.message = "interrupted";
      break;
    case Wait::LinkLost:
      out.exit = kExitLink;
      out.code = kErrNotConnected;
      out.message = "the link to the analyzer was lost";
      break;
    case Wait::TimedOut:
      out.exit = kExitTimeout;
      out.code = kErrTimeout;
      out.message = timedOut;
      break;
    case Wait::Met: break;
  }
}

void LibraryFailed(int32_t code, StepOutcome& out, const std::string& what) {
  out.exit = ExitForCode(code);
  out.code = code;
  out.message = what + ": " + CodeMessage(code);
}

std::string Seconds(uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

std::string SystemErrorText(DWORD error) {
  char text[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 text, sizeof text, nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.')) s.pop_back();
  return s.empty() ? "system error " + std::to_string(error) : s;
}

double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string CodeMessage(int32_t code) {
  std::string text = JsonLine::CodeText(code);
  if (const char* meaning = ResultCodeMeaning(code)) return text + " (" + meaning + ")";
  // A system error in result form: the system's text for it.
  if ((static_cast<uint32_t>(code) & 0xFFFF0000u) == 0x80070000u)
    return text + " (" + SystemErrorText(static_cast<DWORD>(code) & 0xFFFF) + ")";
  return text + " (a code without a text of its own)";
}

StepOutcome RunStep(StepContext& context, const Step& step) {
  StepOutcome out;
  switch (step.kind) {
    case StepKind::Info: RunInfo(context, out); break;
    case StepKind::Keys: RunKeys(context, step, out); break;
    case StepKind::Screen: RunScreen(context, step, out); break;
    case StepKind::ExpectScreen: RunExpectScreen(context, step, out); break;
    case StepKind::WaitScreen: RunWaitScreen(context, step, out); break;
    case StepKind::WaitIdle: RunWaitIdle(context, step, out); break;
    case StepKind::Download: RunDownload(context, step, out); break;
    case StepKind::Sleep: RunSleep(context, step, out); break;
  }
  return out;
}

}  // namespace ksvw::remote
