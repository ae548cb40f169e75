// ksvw-remote's command line: the link to use and the steps to run over it,
// all checked before anything is connected. Portable: the Windows program
// runs what this makes, the unit tests read it.
//
//   ksvw-remote [--lan HOST[:PORT[:CTPORT]] | --serial COMn[:BAUD]]
//               [--settings FILE.ini] [--json] STEP...
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/connection_settings.h"

namespace ksvw::remote {

// Exit status.
inline constexpr int kExitOk = 0;
inline constexpr int kExitExpectation = 1;  // expect-screen saw another screen
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFile = 3;     // a file could not be written
inline constexpr int kExitLink = 4;     // the link was not made, was lost or refused a step
inline constexpr int kExitTimeout = 5;  // a step did not end within its time
inline constexpr int kExitInterrupted = 130;

enum class StepKind { Info, Keys, Screen, ExpectScreen, WaitScreen, WaitIdle, Download, Sleep };

struct Step {
  StepKind kind = StepKind::Info;
  std::string name;               // as the command line says it ("expect-screen")
  std::string argument;           // keys: the sequence; screen and download: the file
  std::vector<uint32_t> presses;  // keys: the values sent, SHIFT latch applied
  int32_t mode = 0;               // screen: image mode 0, 1 or 2
  uint32_t milliseconds = 0;      // sleep: its length; waits: their deadline
};

// Where the link goes: SETTING.ini as the viewer reads it, with what
// --lan or --serial give over it.
struct LinkChoice {
  enum class Method { Settings, Lan, Serial } method = Method::Settings;
  std::string host, port, ctport;  // --lan (empty: from the settings)
  std::string com;                 // --serial "COMn"
  int32_t speed = 0;               // --serial BAUD (0: from the settings)
};

struct Script {
  LinkChoice link;
  std::string settingsFile;  // --settings (empty: SETTING.ini beside the program)
  bool json = false;
  bool help = false;
  std::vector<Step> steps;
};

// Reads the command line (argv[0] is the program). False, with `error`
// saying what is wrong, on any usage error: an unknown option, step or key
// name, a missing or bad value.
bool ParseScript(int argc, const char* const* argv, Script& script, std::string& error);

// Puts --lan or --serial over settings read from SETTING.ini. False, with
// `error`, when the result cannot be connected (a LAN link without a host
// or with a bad port).
bool ApplyLinkChoice(const LinkChoice& link, ConnectionSettings& settings, std::string& error);

// Whether a step reads the analyzer's screen (the link then asks for it).
bool ReadsScreen(StepKind kind);

extern const char kUsage[];

}  // namespace ksvw::remote
