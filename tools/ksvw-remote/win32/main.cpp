// ksvw-remote: drives an analyzer from scripts through the remote library
// (remote/ksvwrmt.h only, so the maker's own ksvwrmt.dll serves as well as
// ours). See tools/ksvw-remote/script.h for the command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/files.h"
#include "settings/settings_sections.h"
#include "settings/win32/settings_store.h"
#include "tools/ksvw-remote/win32/steps.h"

namespace ksvw::remote {
namespace {

constexpr uint32_t kConnectMs = 30000;

// SETTING.ini beside the program, or --settings (which must exist).
bool LoadSettings(const Script& script, ConnectionSettings& settings, std::string& error) {
  char path[MAX_PATH];
  if (!script.settingsFile.empty()) {
    const DWORD n = GetFullPathNameA(script.settingsFile.c_str(), sizeof path, path, nullptr);
    const DWORD attributes = n > 0 && n < sizeof path ? GetFileAttributesA(path) : 0;
    if (attributes == INVALID_FILE_ATTRIBUTES || n == 0 || n >= sizeof path ||
        (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      error = "cannot read the settings file " + script.settingsFile;
      return false;
    }
  } else {
    char folder[MAX_PATH];
    if (!ModuleFolder(nullptr, folder, sizeof folder) ||
        !JoinPath(folder, kSettingsFileName, path, sizeof path)) {
      error = "the program's folder is too long a name";
      return false;
    }
  }
  // Private-profile reads take a name without a folder from the Windows
  // folder: the path is always a full one here.
  LoadConnectionSettings(PrivateProfileSource(path), settings);
  return true;
}

// Says how a step (or the connect, index 0) ended: its JSON object on
// standard output, its failure on standard error.
void Report(const Script& script, int index, const std::string& name, const StepOutcome& out,
            double ms) {
  if (script.json) {
    JsonLine line;
    line.Text("step", name)
        .Integer("index", index)
        .Integer("exit", out.exit)
        .Code("code", out.code);
    if (!out.message.empty()) line.Text("message", out.message);
    line.Number("ms", ms).Append(out.json);
    std::printf("%s\n", line.Finish().c_str());
    std::fflush(stdout);
  }
  if (out.exit != kExitOk)
    std::fprintf(stderr, "ksvw-remote: %s%s: %s\n", index ? "step " : "",
                 index ? (std::to_string(index) + " (" + name + ")").c_str() : name.c_str(),
                 out.message.c_str());
}

StepOutcome ConnectOutcome(Session& session, const ConnectionSettings& settings) {
  StepOutcome out;
  out.code = session.Connect(settings, kConnectMs);
  out.json.Text("link", LinkText(settings));
  if (Session::Interrupted()) {
    out.exit = kExitInterrupted;
    out.message = "interrupted";
  } else if (out.code < 0) {
    out.exit = kExitLink;
    out.message = "no link to the analyzer (" + LinkText(settings) + "): " + CodeMessage(out.code);
  } else {
    out.json.Code("model", session.Model());
  }
  return out;
}

int Run(const Script& script, const ConnectionSettings& settings) {
  Session session;
  double start = NowMs();
  StepOutcome connected = ConnectOutcome(session, settings);
  Report(script, 0, "connect", connected, NowMs() - start);
  if (connected.exit != kExitOk) return connected.exit;
  for (const Step& step : script.steps)
    if (ReadsScreen(step.kind)) {
      session.MonitorScreen();
      break;
    }
  StepContext context{session, settings, script.json};
  for (size_t i = 0; i < script.steps.size(); ++i) {
    const Step& step = script.steps[i];
    start = NowMs();
    StepOutcome out;
    if (Session::Interrupted()) {
      out.exit = kExitInterrupted;
      out.message = "interrupted";
    } else {
      out = RunStep(context, step);
    }
    Report(script, static_cast<int>(i + 1), step.name, out, NowMs() - start);
    if (out.exit != kExitOk) return out.exit;
  }
  return kExitOk;
}

}  // namespace
}  // namespace ksvw::remote

int main(int argc, char** argv) {
  using namespace ksvw::remote;
  Script script;
  std::string error;
  if (!ParseScript(argc, argv, script, error)) {
    std::fprintf(stderr, "ksvw-remote: %s (see --help)\n", error.c_str());
    return kExitUsage;
  }
  if (script.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  ksvw::ConnectionSettings settings = ksvw::DefaultConnectionSettings();
  if (!LoadSettings(script, settings, error) || !ApplyLinkChoice(script.link, settings, error)) {
    std::fprintf(stderr, "ksvw-remote: %s\n", error.c_str());
    return kExitUsage;
  }
  Session::WatchInterrupt();
  const int32_t initialized = KSInitializeRemote();
  if (initialized < 0) {
    std::fprintf(stderr, "ksvw-remote: the remote library did not start: %s\n",
                 CodeMessage(initialized).c_str());
    return kExitLink;
  }
  const int status = Run(script, settings);
  KSUninitializeRemote();
  return status;
}
