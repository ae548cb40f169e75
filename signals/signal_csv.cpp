// ksvw-dt decode's CSV. Texts that repeat (names, units, labels) are made
// CSV-safe once per message; a row is then a few copies and one number.
#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "signals/signal_export.h"
#include "signals/signal_walk.h"
#include "signals/value_text.h"

namespace ksvw::signals {

SignalSelection::SignalSelection(std::string_view patterns) {
  while (!patterns.empty()) {
    const size_t comma = patterns.find(',');
    const std::string_view one = patterns.substr(0, comma);
    if (!one.empty()) patterns_.emplace_back(one);
    if (comma == std::string_view::npos) break;
    patterns.remove_prefix(comma + 1);
  }
}

namespace {

bool PatternMatches(std::string_view pattern, const Message& message, const Signal& signal) {
  if (GlobMatch(pattern, signal.name)) return true;
  // MESSAGE.SIGNAL, without building the text for every pattern and signal.
  const size_t dot = pattern.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string full = message.name + "." + signal.name;
  return GlobMatch(pattern, full);
}

}  // namespace

bool SignalSelection::Matches(const Message& message, const Signal& signal) const {
  if (patterns_.empty()) return true;
  for (const std::string& p : patterns_) {
    if (PatternMatches(p, message, signal)) return true;
  }
  return false;
}

bool SignalSelection::MatchesAny(std::string_view pattern, const Database& database) {
  for (const Message& m : database.messages) {
    for (const Signal& s : m.signals) {
      if (PatternMatches(pattern, m, s)) return true;
    }
  }
  return false;
}

void CountOutcome(FrameOutcome outcome, const FrameSignals& frame, DecodeTally& tally) {
  switch (outcome) {
    case FrameOutcome::Decoded:
      ++tally.frames;
      tally.beyondFrame += frame.beyondFrame;
      break;
    case FrameOutcome::NotInDatabase: ++tally.notInDatabase; break;
    case FrameOutcome::NotDecoded: ++tally.notDecoded; break;
  }
}

namespace {

using namespace exporting;

std::string Joined(std::string_view a, std::string_view b) {
  std::string out;
  out.reserve(a.size() + b.size());
  out.append(a).append(b);
  return out;
}

// A message's texts as the rows print them.
struct MessageTexts {
  std::string name;  // "NAME,"
  struct SignalTexts {
    bool chosen = false;
    std::string name;                 // "NAME,"
    std::string unit;                 // ",UNIT"
    std::vector<std::string> labels;  // ",LABEL", in the order of Signal::labels
  };
  std::vector<SignalTexts> signals;
  size_t longestRow = 0;  // after the time, channel and id
};

char* Put(char* p, const std::string& text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

class CsvWriter {
 public:
  CsvWriter(const SignalDecoder& decoder, const DecodeOptions& options, DecodeTally& tally)
      : decoder_(decoder), options_(options), tally_(tally) {}

  void Begin(OutputWriter& out) {
    static constexpr char kHeader[] = "time_s,channel,id,message,signal,value,unit";
    out.WriteBytes(kHeader, sizeof kHeader - 1);
    if (options_.labels) out.WriteBytes(",label", 6);
    out.WriteBytes("\r\n", 2);
  }
  void End(OutputWriter&) {}

  // Each row is composed in row_ behind the frame's common beginning and
  // written with one copy.
  void Put(OutputWriter& out, const CaptureRecord& record, uint64_t ticks) {
    const FrameOutcome outcome = decoder_.Decode(record, frame_);
    CountOutcome(outcome, frame_, tally_);
    if (outcome != FrameOutcome::Decoded || frame_.count == 0) return;
    const MessageTexts& texts = TextsOf(*frame_.message);
    if (row_.size() < kPrefixRoom + texts.longestRow) row_.resize(kPrefixRoom + texts.longestRow);
    // time_s,channel,id,message,
    char* p = DecimalPadded(row_.data(), ticks / kTicksPerSecond, 1);
    *p++ = '.';
    p = Micros6(p, static_cast<uint32_t>(ticks % kTicksPerSecond));
    *p++ = ',';
    *p++ = static_cast<char>('0' + frame_.frame.channel);
    *p++ = ',';
    p = HexId(p, frame_.frame.id);
    *p++ = ',';
    char* const signalsAt = signals::Put(p, texts.name);
    for (int i = 0; i < frame_.count; ++i) {
      const SignalValue& v = frame_.values[i];
      const MessageTexts::SignalTexts& st = texts.signals[v.signal];
      if (!st.chosen) continue;
      p = signals::Put(signalsAt, st.name);
      p = signals::Put(FormatValue(p, v.value), st.unit);
      if (options_.labels) {
        const Signal& s = frame_.message->signals[v.signal];
        const ValueLabel* label = LabelOf(s, v);
        if (label != nullptr) {
          p = signals::Put(p, st.labels[static_cast<size_t>(label - s.labels.data())]);
        } else {
          *p++ = ',';
        }
      }
      *p++ = '\r';
      *p++ = '\n';
      out.WriteBytes(row_.data(), static_cast<size_t>(p - row_.data()));
      ++tally_.values;
    }
  }

 private:
  // Time (at most 20 + 7 digits), channel and an id of 8 digits, with commas.
  static constexpr size_t kPrefixRoom = 48;

  // Uppercase hex without leading zeros.
  static char* HexId(char* p, uint32_t id) {
    int shift = 28;
    while (shift > 0 && (id >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) *p++ = digits::kHexDigits[(id >> shift) & 15];
    return p;
  }

  const MessageTexts& TextsOf(const Message& m) {
    if (&m == lastMessage_) return *lastTexts_;
    auto [it, added] = texts_.try_emplace(&m);
    if (added) {
      MessageTexts& t = it->second;
      t.name = Joined(CsvField(m.name), ",");
      t.signals.resize(m.signals.size());
      for (size_t i = 0; i < m.signals.size(); ++i) {
        const Signal& s = m.signals[i];
        MessageTexts::SignalTexts& st = t.signals[i];
        st.chosen = options_.selection.Matches(m, s);
        st.name = Joined(CsvField(s.name), ",");
        st.unit = Joined(",", CsvField(s.unit));
        size_t label = 1;
        if (options_.labels) {
          for (const ValueLabel& l : s.labels) {
            st.labels.push_back(Joined(",", CsvField(l.text)));
            label = std::max(label, st.labels.back().size());
          }
        }
        t.longestRow = std::max(t.longestRow, t.name.size() + st.name.size() + kValueTextCapacity +
                                                  st.unit.size() + label + 2);
      }
    }
    lastMessage_ = &m;
    lastTexts_ = &it->second;
    return it->second;
  }

  const SignalDecoder& decoder_;
  const DecodeOptions& options_;
  DecodeTally& tally_;
  FrameSignals frame_;
  std::unordered_map<const Message*, MessageTexts> texts_;
  std::vector<char> row_;
  const Message* lastMessage_ = nullptr;
  const MessageTexts* lastTexts_ = nullptr;
};

}  // namespace

ConvertResult DecodeCaptureToCsv(const CaptureReader& reader, const SignalDecoder& decoder,
                                 const DecodeOptions& options, const std::string& path,
                                 ProgressSink* progress, DecodeTally& tally) {
  CsvWriter writer(decoder, options, tally);
  return WalkSignals(reader, options.channelSelection, path, progress, tally, writer);
}

}  // namespace ksvw::signals
