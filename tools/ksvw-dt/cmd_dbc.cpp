// ksvw-dt dbc DB.dbc
//
// Lists what the reader understood of a signal database, e.g.
//   message 0x064 EngineData: 8 bytes, cycle 100 ms, from Engine
//     signal       mux      start  length  order     type      factor  offset  range       unit
//     EngineSpeed           24     16      Motorola  unsigned  0.125   0       [0|8000]    rpm
//       values: 0 Stopped, 1 Idle
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "signals/dbc_parser.h"
#include "signals/value_text.h"
#include "tools/ksvw-dt/commands.h"

namespace ksvw::dt {

namespace {

using namespace signals;

constexpr const char kDbcUsage[] =
    "usage: ksvw-dt dbc DB.dbc\n"
    "\n"
    "Lists the messages and signals of a DBC signal database as the decoder\n"
    "reads them: per message its identifier, name, length, cycle time and\n"
    "sender; per signal its multiplexing, start bit (as DBC files count it),\n"
    "length, byte order, type, factor, offset, range, unit and value table.\n"
    "\n"
    "Exit status: 0 listed; 2 usage error; 4 the database could not be read\n"
    "(the fault's file, line and column on standard error).\n";

std::string Number(double v) {
  char text[kValueTextCapacity];
  FormatValue(text, v);
  return text;
}

// "[MIN|MAX]"
std::string Range(const Signal& s) {
  std::string range(1, '[');
  range.append(Number(s.minimum)).append(1, '|').append(Number(s.maximum)).append(1, ']');
  return range;
}

const char* TypeName(ValueType type) {
  switch (type) {
    case ValueType::Unsigned: return "unsigned";
    case ValueType::Signed: return "signed";
    case ValueType::Float32: return "float";
    case ValueType::Float64: return "double";
  }
  return "?";
}

// "M", "Mode=3", "M Mode=1,4-6"
std::string MuxText(const Message& m, const Signal& s) {
  std::string text = s.isSwitch ? "M" : "";
  if (s.switchIndex == kNoSignal) return text;
  if (!text.empty()) text += ' ';
  text.append(m.signals[s.switchIndex].name).append(1, '=');
  for (size_t i = 0; i < s.switchRanges.size(); ++i) {
    const auto [low, high] = s.switchRanges[i];
    if (i > 0) text += ',';
    text += std::to_string(low);
    if (high != low) text.append(1, '-').append(std::to_string(high));
  }
  return text;
}

void PrintLabels(const std::vector<ValueLabel>& labels) {
  constexpr size_t kWidth = 96;
  std::string line = "      values:";
  for (size_t i = 0; i < labels.size(); ++i) {
    std::string item(1, ' ');
    item.append(std::to_string(labels[i].value)).append(1, ' ').append(labels[i].text);
    if (i + 1 < labels.size()) item += ',';
    if (line.size() + item.size() > kWidth) {
      line.append(" ... (").append(std::to_string(labels.size())).append(" in all)");
      break;
    }
    line += item;
  }
  std::printf("%s\n", line.c_str());
}

void PrintMessage(const Message& m) {
  char id[32];
  if (!m.isFrame) {
    std::snprintf(id, sizeof id, "(no frame) 0x%08X", m.id);
  } else {
    std::snprintf(id, sizeof id, m.extended ? "0x%08X" : "0x%03X", m.id);
  }
  std::printf("message %s%s %s: %d bytes", id, m.extended && m.isFrame ? " extended" : "",
              m.name.c_str(), m.length);
  if (m.cycleTimeMs >= 0) std::printf(", cycle %d ms", m.cycleTimeMs);
  std::printf(", from %s\n", m.sender.c_str());
  if (m.signals.empty()) return;
  int nameWidth = 6;
  int muxWidth = 3;
  int rangeWidth = 5;
  for (const Signal& s : m.signals) {
    nameWidth = std::max(nameWidth, static_cast<int>(s.name.size()));
    muxWidth = std::max(muxWidth, static_cast<int>(MuxText(m, s).size()));
    rangeWidth = std::max(rangeWidth, static_cast<int>(Range(s).size()));
  }
  std::printf("  %-*s  %-*s  start  length  order     type      factor  offset  %-*s  unit\n",
              nameWidth, "signal", muxWidth, "mux", rangeWidth, "range");
  for (const Signal& s : m.signals) {
    // No blanks at the end of a line without a unit.
    const bool unit = !s.unit.empty();
    std::printf("  %-*s  %-*s  %-5d  %-6d  %-8s  %-8s  %-6s  %-6s  %-*s%s%s\n", nameWidth,
                s.name.c_str(), muxWidth, MuxText(m, s).c_str(), s.startBit, s.length,
                s.order == ByteOrder::Intel ? "Intel" : "Motorola", TypeName(s.type),
                Number(s.factor).c_str(), Number(s.offset).c_str(), unit ? rangeWidth : 0,
                Range(s).c_str(), unit ? "  " : "", s.unit.c_str());
    if (!s.labels.empty()) PrintLabels(s.labels);
  }
}

}  // namespace

int RunDbc(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kDbcUsage, stdout);
    return kExitOk;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kDbcUsage, stderr);
    return kExitUsage;
  }
  Database db;
  DbcError error;
  if (!LoadDbcFile(argv[1], db, error)) {
    std::fprintf(stderr, "ksvw-dt: %s\n", error.Text().c_str());
    return kExitDatabase;
  }
  if (!db.version.empty()) std::printf("version \"%s\"\n", db.version.c_str());
  for (const Message& m : db.messages) PrintMessage(m);
  std::printf("%zu message(s), %zu signal(s), %zu value table(s)\n", db.messages.size(),
              db.SignalCount(), db.valueTables.size());
  return std::ferror(stdout) != 0 ? kExitIo : kExitOk;
}

}  // namespace ksvw::dt
