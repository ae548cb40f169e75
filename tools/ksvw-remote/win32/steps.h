// The steps of a ksvw-remote script, each run over the one session.
#pragma once

#include <cstdint>
#include <string>

#include "settings/connection_settings.h"
#include "tools/ksvw-remote/report.h"
#include "tools/ksvw-remote/script.h"
#include "tools/ksvw-remote/win32/session.h"

namespace ksvw::remote {

struct StepContext {
  Session& session;
  const ConnectionSettings& settings;
  bool json;  // standard output carries JSON only
};

// Runs `step`; the outcome says how it ended and what it measured.
StepOutcome RunStep(StepContext& context, const Step& step);

// "0xA0000001 (the analyzer is under the remote control of another
// computer)": a result code and what it means.
std::string CodeMessage(int32_t code);

// Milliseconds of a steady clock, for the figures.
double NowMs();

// What the steps share.
void RunDownload(StepContext& context, const Step& step, StepOutcome& out);
// A wait that did not end as it should: interrupted (130), the link lost
// (4) or timed out (5, saying `timedOut`).
void WaitFailed(Session::Wait wait, StepOutcome& out, const std::string& timedOut);
// The library ended `what` with `code`.
void LibraryFailed(int32_t code, StepOutcome& out, const std::string& what);
std::string Seconds(uint32_t ms);  // "2.5 s"
std::string SystemErrorText(DWORD error);

}  // namespace ksvw::remote
