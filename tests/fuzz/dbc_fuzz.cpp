// libFuzzer target over the DBC reader and the signal decoder. Beyond what
// ASan and UBSan catch, it checks that a refused file changes nothing and
// names a place inside the text, that a loaded database keeps the promises
// the decoder relies on, and that every frame decodes only present signals
// inside the frame, with raw values of their own width.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "signals/dbc_parser.h"
#include "signals/signal_decoder.h"
#include "signals/value_text.h"

namespace {

using namespace ksvw::signals;

[[noreturn]] void Fail(const char* what, long detail) {
  std::fprintf(stderr, "dbc_fuzz: %s (%ld)\n", what, detail);
  std::abort();
}

void CheckRefusal(std::string_view text, const Database& db, const DbcError& error) {
  if (!db.messages.empty() || db.version != "kept") Fail("a refused file changed the database", 0);
  const long lines = 1 + std::count(text.begin(), text.end(), '\n');
  if (error.line < 1 || error.line > lines || error.column < 1)
    Fail("fault outside the text", error.line);
  if (error.message.empty() || error.found.size() > 35)
    Fail("fault text", static_cast<long>(error.found.size()));
}

void CheckDatabase(const Database& db) {
  for (const Message& m : db.messages) {
    if (m.isFrame && db.Find(m.bus, m.id, m.extended) != &m)
      Fail("message not found by its id", m.id);
    if (m.presenceOrder.size() != m.signals.size())
      Fail("presence order", static_cast<long>(m.signals.size()));
    for (const Signal& s : m.signals) {
      if (s.length < 1 || s.length > 64) Fail("signal length", s.length);
      if (m.isFrame && s.bytesNeeded > m.length) Fail("signal beyond its message", s.bytesNeeded);
      for (size_t i = 1; i < s.labels.size(); ++i) {
        if (s.labels[i - 1].value >= s.labels[i].value)
          Fail("labels not sorted", static_cast<long>(i));
      }
      if (s.switchIndex != kNoSignal &&
          (s.switchIndex >= m.signals.size() || !m.signals[s.switchIndex].isSwitch))
        Fail("switch", s.switchIndex);
    }
  }
}

void CheckDecode(const Message& m, const uint8_t* bytes, int size) {
  std::vector<SignalValue> values(m.signals.size());
  int beyond = 0;
  const int n = DecodeMessage(m, bytes, size, values.data(), beyond);
  if (n < 0 || static_cast<size_t>(n + beyond) > m.signals.size()) Fail("decoded count", n);
  for (int i = 0; i < n; ++i) {
    const SignalValue& v = values[i];
    const Signal& s = m.signals[v.signal];
    if (i > 0 && v.signal <= values[i - 1].signal) Fail("signals out of the database's order", i);
    if (s.bytesNeeded > size) Fail("a signal decoded beyond the frame", s.bytesNeeded);
    const uint64_t high = s.type == ValueType::Signed ? (v.raw >> (s.length - 1)) : v.raw;
    const bool fits = s.type == ValueType::Signed
                          ? (high == 0 || high == (~uint64_t{0} >> (s.length - 1)))
                          : (s.length == 64 || v.raw <= s.mask);
    if (!fits) Fail("raw value wider than its signal", s.length);
    if (s.switchIndex != kNoSignal) {
      auto sw = std::find_if(values.begin(), values.begin() + n,
                             [&](const SignalValue& x) { return x.signal == s.switchIndex; });
      if (sw == values.begin() + n) Fail("a multiplexed signal without its switch", v.signal);
      const bool inRange = std::any_of(s.switchRanges.begin(), s.switchRanges.end(), [&](auto r) {
        return sw->raw >= r.first && sw->raw <= r.second;
      });
      if (!inRange) Fail("a multiplexed signal outside its ranges", v.signal);
    }
    char text[kValueTextCapacity];
    FormatValue(text, v.value);
    if (v.value == v.value && std::strtod(text, nullptr) != v.value)
      Fail("value text does not read back", i);
    LabelOf(s, v);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Database db;
  db.version = "kept";
  DbcError error;
  if (!ParseDbc(text, "fuzz.dbc", db, error)) {
    CheckRefusal(text, db, error);
    return 0;
  }
  CheckDatabase(db);
  // Frames of the input's own bytes, at every length.
  uint8_t bytes[8] = {};
  for (size_t i = 0; i < size; ++i) bytes[i % 8] ^= data[i];
  size_t checked = 0;
  for (const Message& m : db.messages) {
    if (++checked > 64) break;
    for (int n = 0; n <= 8; ++n) CheckDecode(m, bytes, n);
  }
  return 0;
}
