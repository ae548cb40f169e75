#include "signals/signal_database.h"

#include <algorithm>

namespace ksvw::signals {

namespace {

void SetLayout(Signal& s) {
  s.mask = s.length >= 64 ? ~uint64_t{0} : (uint64_t{1} << s.length) - 1;
  const int needed = SignalBytesNeeded(s.startBit, s.length, s.order);
  s.bytesNeeded = static_cast<uint8_t>(std::min(needed, 255));
  if (needed > 8) {
    s.shift = 0;  // never decoded: no frame of ours has more than 8 bytes
  } else if (s.order == ByteOrder::Intel) {
    s.shift = static_cast<uint8_t>(s.startBit);
  } else {
    // Linear bit p of the big-endian word is word bit 63 - p; the value's
    // lowest bit is its last linear bit.
    const int last = MotorolaLinear(s.startBit) + s.length - 1;
    s.shift = static_cast<uint8_t>(63 - last);
  }
}

// Every switch before its dependants: by the number of switches above each
// signal, each chain walked once. The parser has refused cycles; a database
// built by hand with one leaves the signals of the cycle out.
void SetPresenceOrder(Message& m) {
  const size_t n = m.signals.size();
  constexpr uint32_t kUnknown = 0xFFFFFFFF, kCycle = 0xFFFFFFFE;
  std::vector<uint32_t> depth(n, kUnknown);
  std::vector<uint16_t> chain;
  for (size_t i = 0; i < n; ++i) {
    chain.clear();
    uint16_t at = static_cast<uint16_t>(i);
    while (at != kNoSignal && depth[at] == kUnknown && chain.size() <= n) {
      chain.push_back(at);
      at = m.signals[at].switchIndex;
    }
    const bool cycle = chain.size() > n || (at != kNoSignal && depth[at] == kCycle);
    uint32_t d = cycle ? kCycle : at == kNoSignal ? 0 : depth[at] + 1;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      depth[*it] = d;
      if (!cycle) ++d;
    }
  }
  m.presenceOrder.clear();
  for (size_t i = 0; i < n; ++i) {
    if (depth[i] < kCycle) m.presenceOrder.push_back(static_cast<uint16_t>(i));
  }
  std::stable_sort(m.presenceOrder.begin(), m.presenceOrder.end(),
                   [&depth](uint16_t a, uint16_t b) { return depth[a] < depth[b]; });
  m.multiplexed = std::any_of(m.signals.begin(), m.signals.end(),
                              [](const Signal& s) { return s.switchIndex != kNoSignal; });
}

}  // namespace

int SignalBytesNeeded(uint16_t startBit, uint16_t length, ByteOrder order) {
  const int first = order == ByteOrder::Intel ? startBit : MotorolaLinear(startBit);
  return (first + length - 1) / 8 + 1;
}

const ValueLabel* FindLabel(const Signal& signal, int64_t raw) {
  auto it = std::lower_bound(signal.labels.begin(), signal.labels.end(), raw,
                             [](const ValueLabel& l, int64_t v) { return l.value < v; });
  return it != signal.labels.end() && it->value == raw ? &*it : nullptr;
}

int Database::Lookup(Bus bus, uint32_t key) const {
  const Entry wanted{bus, key, 0};
  auto it = std::lower_bound(index_.begin(), index_.end(), wanted);
  return it != index_.end() && it->bus == bus && it->key == key ? static_cast<int>(it->index) : -1;
}

const Message* Database::Find(Bus bus, uint32_t id, bool extended) const {
  const int at = Lookup(bus, MessageKey(id, extended));
  return at >= 0 && messages[at].isFrame ? &messages[at] : nullptr;
}

void Database::Finalise() {
  index_.clear();
  index_.reserve(messages.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    Message& m = messages[i];
    const uint32_t key = m.isFrame ? MessageKey(m.id, m.extended) : m.id;
    index_.push_back(Entry{m.bus, key, static_cast<uint32_t>(i)});
    for (Signal& s : m.signals) SetLayout(s);
    SetPresenceOrder(m);
  }
  std::sort(index_.begin(), index_.end());
}

size_t Database::SignalCount() const {
  size_t n = 0;
  for (const Message& m : messages) n += m.signals.size();
  return n;
}

}  // namespace ksvw::signals
