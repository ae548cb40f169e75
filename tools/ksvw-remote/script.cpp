#include "tools/ksvw-remote/script.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "keyemu/key_state.h"
#include "keyemu/key_tables.h"
#include "settings/settings_sections.h"

namespace ksvw::remote {

const char kUsage[] =
    "usage: ksvw-remote [--lan HOST[:PORT[:CTPORT]] | --serial COMn[:BAUD]]\n"
    "                   [--settings FILE.ini] [--json] STEP...\n"
    "\n"
    "Drives an analyzer through the remote library: the steps run in order over\n"
    "one connection. Without --lan or --serial the link is SETTING.ini's beside\n"
    "the program (or --settings FILE.ini); either one overrides what it names.\n"
    "\n"
    "steps:\n"
    "  info                       model, board, link and status flags\n"
    "  keys SEQ                   press panel keys, each waiting for its completion:\n"
    "                             names (0-9 A-F M Y T S R G H L K P DEL INS SHIFT\n"
    "                             LEFT RIGHT UP DOWN PGUP PGDN ENTER) apart by blanks\n"
    "                             or commas, NAME*N for N presses; SHIFT latches for\n"
    "                             the next key, as a click on the key emulator's\n"
    "  screen OUT.bmp [--mode M]  save the LCD as the key emulator does (mode 0, 1, 2)\n"
    "  expect-screen REF.bmp [--timeout S]\n"
    "                             the LCD must show REF.bmp within S seconds (2);\n"
    "                             else exit 1 with the screen saved as REF.current.bmp\n"
    "  wait-screen [--timeout S]  until the LCD changes (10 s)\n"
    "  wait-idle [--timeout S]    until no measurement runs (60 s)\n"
    "  download OUT.DT [--timeout S]\n"
    "                             the capture memory as the program downloads it,\n"
    "                             written beside OUT.DT and renamed when whole (600 s)\n"
    "  sleep MS                   wait MS milliseconds\n"
    "\n"
    "--json prints one JSON object per step (and one for the connect) on standard\n"
    "output. Exit status: 0 done, 1 an expectation failed, 2 usage error, 3 a file\n"
    "could not be written, 4 the link could not be made, was lost or refused a\n"
    "step, 5 a step timed out, 130 Ctrl-C (a running download is cancelled).\n";

namespace {

struct StepName {
  const char* name;
  StepKind kind;
  const char* argument;  // the value it needs, or null
  const char* option;    // --mode or --timeout, or null
  uint32_t defaultMs;    // deadline without --timeout
};
constexpr StepName kSteps[] = {
    {"info", StepKind::Info, nullptr, nullptr, 0},
    {"keys", StepKind::Keys, "SEQ", nullptr, 0},
    {"screen", StepKind::Screen, "OUT.bmp", "--mode", 0},
    {"expect-screen", StepKind::ExpectScreen, "REF.bmp", "--timeout", 2000},
    {"wait-screen", StepKind::WaitScreen, nullptr, "--timeout", 10000},
    {"wait-idle", StepKind::WaitIdle, nullptr, "--timeout", 60000},
    {"download", StepKind::Download, "OUT.DT", "--timeout", 600000},
    {"sleep", StepKind::Sleep, "MS", nullptr, 0},
};
constexpr uint32_t kLongestWaitMs = 86400000;  // a day

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// "0.5" seconds as 500 ms; a day at most, more than 0.
bool ParseSeconds(const char* text, uint32_t& ms) {
  char* end = nullptr;
  double seconds = std::strtod(text, &end);
  if (end == text || *end || !(seconds > 0) || seconds * 1000 > kLongestWaitMs) return false;
  ms = static_cast<uint32_t>(seconds * 1000 + 0.5);
  return ms > 0;
}

// Decimal 1 to `max`.
bool ParseCount(const std::string& text, uint32_t max, uint32_t& value) {
  if (!AllDigits(text) || text.size() > 9) return false;
  value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  return value >= 1 && value <= max;
}

// One name of a key sequence ("PGDN", "5*3") as its presses, the SHIFT
// latch carried from press to press as the key emulator's panel has it: a
// SHIFT that latches is sent (0xFFFFFFFF), a second one unlatches and sends
// nothing, the next key goes with 0x80 and lets SHIFT go.
bool AddPresses(const std::string& word, keyemu::KeyState& shift, std::vector<uint32_t>& presses,
                std::string& error) {
  std::string name = word;
  uint32_t count = 1;
  size_t star = word.find('*');
  if (star != std::string::npos) {
    name = word.substr(0, star);
    if (!ParseCount(word.substr(star + 1), 100, count)) {
      error = "bad repeat in '" + word + "' (NAME*N, N from 1 to 100)";
      return false;
    }
  }
  const keyemu::KeyLayoutRow* row = keyemu::FindKeyRow(keyemu::KeyIdForPanelName(name));
  if (!row) {
    error = "unknown key '" + name + "'";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    keyemu::KeyReports reports;
    if (row->flags & keyemu::kLatchingKey) {
      shift.Click(reports);
      if (reports.count > 0 && reports.items[0] == keyemu::KeyReport::Pressed)
        presses.push_back(keyemu::KeyPressValue(row->code, true));
    } else {
      presses.push_back(keyemu::KeyPressValue(row->code, shift.Pressed()));
      shift.ForceUnlatch(reports);  // the key's release lets SHIFT go, sending nothing
    }
  }
  return true;
}

bool ParseKeys(const std::string& sequence, keyemu::KeyState& shift, std::vector<uint32_t>& presses,
               std::string& error) {
  std::string word;
  for (size_t i = 0; i <= sequence.size(); ++i) {
    const char c = i < sequence.size() ? sequence[i] : ' ';
    if (c == ' ' || c == ',' || c == '\t') {
      if (!word.empty() && !AddPresses(word, shift, presses, error)) return false;
      word.clear();
    } else {
      word += c;
    }
  }
  if (presses.empty() && error.empty()) error = "keys needs at least one key name";
  return error.empty();
}

// HOST[:PORT[:CTPORT]]; an IPv6 address goes in brackets.
bool ParseLan(const std::string& text, LinkChoice& link) {
  size_t hostEnd = text.find(':');
  size_t rest = hostEnd;
  if (!text.empty() && text[0] == '[') {
    hostEnd = text.find(']');
    if (hostEnd == std::string::npos) return false;
    link.host = text.substr(1, hostEnd - 1);
    rest = hostEnd + 1 < text.size() ? hostEnd + 1 : std::string::npos;
    if (rest != std::string::npos && text[rest] != ':') return false;
  } else {
    link.host = text.substr(0, hostEnd);
  }
  if (rest != std::string::npos) {
    std::string ports = text.substr(rest + 1);
    size_t colon = ports.find(':');
    link.port = ports.substr(0, colon);
    if (colon != std::string::npos) link.ctport = ports.substr(colon + 1);
    if (link.port.empty()) return false;
  }
  return !link.host.empty() &&
         CheckLanFields(link.host.c_str(), link.port.empty() ? "1" : link.port.c_str(),
                        link.ctport.c_str()) == LanFieldsCheck::Ok;
}

// COMn[:BAUD]
bool ParseSerial(const std::string& text, LinkChoice& link) {
  size_t colon = text.find(':');
  std::string baud = colon == std::string::npos ? "" : text.substr(colon + 1);
  ShownSerial shown = ShowSerialSettings(text.substr(0, colon).c_str(), baud.c_str(), 115200);
  if (!shown.portUnderstood || !shown.speedUnderstood) return false;
  if (colon != std::string::npos && !AllDigits(baud)) return false;
  link.com = "COM" + std::to_string(shown.port);
  link.speed = colon == std::string::npos ? 0 : shown.speed;
  return true;
}

const StepName* FindStep(const char* word) {
  for (const StepName& s : kSteps)
    if (std::strcmp(s.name, word) == 0) return &s;
  return nullptr;
}

// One step from argv[i] on; i ends on its last word.
bool ParseStep(const StepName& known, int argc, const char* const* argv, int& i,
               keyemu::KeyState& shift, Step& step, std::string& error) {
  step.kind = known.kind;
  step.name = known.name;
  step.milliseconds = known.defaultMs;
  if (known.argument) {
    if (i + 1 >= argc) {
      error = std::string(known.name) + " needs " + known.argument;
      return false;
    }
    step.argument = argv[++i];
  }
  switch (known.kind) {
    case StepKind::Keys:
      if (!ParseKeys(step.argument, shift, step.presses, error)) return false;
      break;
    case StepKind::Sleep:
      if (!ParseCount(step.argument, kLongestWaitMs, step.milliseconds)) {
        error = "sleep takes milliseconds from 1 to " + std::to_string(kLongestWaitMs);
        return false;
      }
      break;
    case StepKind::Download:
      if (step.argument == "-" || step.argument.empty()) {
        error = "download writes a file: name it";
        return false;
      }
      break;
    default: break;
  }
  while (known.option && i + 1 < argc && std::strcmp(argv[i + 1], known.option) == 0) {
    if (i + 2 >= argc) {
      error = std::string(known.option) + " needs a value";
      return false;
    }
    const char* value = argv[i + 2];
    i += 2;
    const bool isMode = std::strcmp(known.option, "--mode") == 0;
    if (isMode && (std::strlen(value) != 1 || value[0] < '0' || value[0] > '2')) {
      error = "--mode takes 0, 1 or 2";
      return false;
    }
    if (isMode) step.mode = value[0] - '0';
    if (!isMode && !ParseSeconds(value, step.milliseconds)) {
      error = "--timeout takes seconds above 0, up to a day (not '" + std::string(value) + "')";
      return false;
    }
  }
  return true;
}

}  // namespace

bool ReadsScreen(StepKind kind) {
  return kind == StepKind::Screen || kind == StepKind::ExpectScreen || kind == StepKind::WaitScreen;
}

bool ParseScript(int argc, const char* const* argv, Script& script, std::string& error) {
  keyemu::KeyState shift(keyemu::kLatchingKey);
  bool linkGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool needsValue = word == "--lan" || word == "--serial" || word == "--settings";
    if (needsValue && i + 1 >= argc) {
      error = word + " needs a value";
      return false;
    }
    if (word == "--help" || word == "-h") {
      script.help = true;
      return true;
    } else if (word == "--json") {
      script.json = true;
    } else if (word == "--settings") {
      script.settingsFile = argv[++i];
    } else if (word == "--lan" || word == "--serial") {
      if (linkGiven) {
        error = "give one --lan or --serial";
        return false;
      }
      linkGiven = true;
      const bool lan = word == "--lan";
      script.link.method = lan ? LinkChoice::Method::Lan : LinkChoice::Method::Serial;
      const std::string value = argv[++i];
      if (lan ? !ParseLan(value, script.link) : !ParseSerial(value, script.link)) {
        error =
            lan ? "--lan takes HOST[:PORT[:CTPORT]] with ports from 1 to 65535, not '" + value + "'"
                : "--serial takes COMn[:BAUD], not '" + value + "'";
        return false;
      }
    } else if (const StepName* known = FindStep(argv[i])) {
      Step step;
      if (!ParseStep(*known, argc, argv, i, shift, step, error)) return false;
      script.steps.push_back(std::move(step));
    } else {
      error = (word.rfind("-", 0) == 0 ? "unknown option '" : "unknown step '") + word + "'";
      return false;
    }
  }
  if (script.steps.empty()) error = "no steps: say what to do";
  for (const Step& step : script.steps)
    if (script.json && step.kind == StepKind::Screen && step.argument == "-")
      error = "screen - would mix the image into --json's standard output";
  return error.empty();
}

bool ApplyLinkChoice(const LinkChoice& link, ConnectionSettings& settings, std::string& error) {
  if (link.method == LinkChoice::Method::Lan) {
    settings.method = kMethodLan;
    CopyCut(settings.host, sizeof settings.host, link.host.c_str());
    if (!link.port.empty()) {
      CopyCut(settings.port, sizeof settings.port, link.port.c_str());
      CopyCut(settings.ctport, sizeof settings.ctport, link.ctport.c_str());
    }
  } else if (link.method == LinkChoice::Method::Serial) {
    settings.method = kMethodSerial;
    CopyCut(settings.com, sizeof settings.com, link.com.c_str());
    if (link.speed > 0) settings.speed = link.speed;
  }
  if (settings.method != kMethodLan) return true;
  switch (CheckLanFields(settings.host, settings.port, settings.ctport)) {
    case LanFieldsCheck::Ok: return true;
    case LanFieldsCheck::NoHost: error = "no LAN host: give --lan HOST:PORT"; break;
    case LanFieldsCheck::BadPort:
      error = "no LAN port from 1 to 65535 (RB40 PORT is '" + std::string(settings.port) +
              "'): give --lan HOST:PORT";
      break;
    case LanFieldsCheck::BadControlPort:
      error = "bad LAN control port '" + std::string(settings.ctport) + "'";
      break;
  }
  return false;
}

}  // namespace ksvw::remote
