// The plot's record walk and its time buckets; the drawing is signal_svg.cpp.
#include "signals/signal_plot.h"

#include <cmath>
#include <unordered_map>

#include "signals/signal_walk.h"

namespace ksvw::signals {

void PlotSeries::Add(uint64_t ticks, double value) {
  if (!std::isfinite(value)) return;  // a float signal's NaN or infinity has no place
  if (!buckets_.empty() && buckets_.back().firstTicks / width_ == ticks / width_) {
    Bucket& b = buckets_.back();
    b.lastTicks = ticks;
    b.last = value;
    b.low = std::min(b.low, value);
    b.high = std::max(b.high, value);
    return;
  }
  buckets_.push_back(Bucket{ticks, ticks, value, value, value, value});
  if (buckets_.size() > kPlotMaxBuckets) Coarsen();
}

// Twice as wide buckets: neighbours that now share one are merged.
void PlotSeries::Coarsen() {
  width_ *= 2;
  size_t kept = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    const Bucket& b = buckets_[i];
    if (kept > 0 && buckets_[kept - 1].firstTicks / width_ == b.firstTicks / width_) {
      Bucket& into = buckets_[kept - 1];
      into.lastTicks = b.lastTicks;
      into.last = b.last;
      into.low = std::min(into.low, b.low);
      into.high = std::max(into.high, b.high);
    } else {
      buckets_[kept++] = b;
    }
  }
  buckets_.resize(kept);
}

namespace {

using namespace exporting;

class PlotWriter {
 public:
  PlotWriter(const SignalDecoder& decoder, const PlotOptions& options, DecodeTally& tally)
      : decoder_(decoder), options_(options), tally_(tally) {}

  void Begin(OutputWriter&) {}
  void End(OutputWriter& out) {
    const std::string svg = PlotSvg(series_, options_.title);
    out.WriteBytes(svg.data(), svg.size());
  }

  void Put(OutputWriter&, const CaptureRecord& record, uint64_t ticks) {
    const FrameOutcome outcome = decoder_.Decode(record, frame_);
    CountOutcome(outcome, frame_, tally_);
    if (outcome != FrameOutcome::Decoded) return;
    const std::vector<int>& seriesOf = SeriesOf(*frame_.message, frame_.frame.channel);
    for (int i = 0; i < frame_.count; ++i) {
      const SignalValue& v = frame_.values[i];
      if (seriesOf[v.signal] < 0) continue;
      series_[seriesOf[v.signal]].Add(ticks, v.value);
      ++tally_.values;
    }
  }

 private:
  // Series index of each signal of a message on a channel; -1 when not drawn.
  const std::vector<int>& SeriesOf(const Message& m, int channel) {
    auto [it, added] = seriesOf_.try_emplace(Key{&m, channel});
    if (!added) return it->second;
    std::vector<int>& indices = it->second;
    indices.assign(m.signals.size(), -1);
    for (size_t i = 0; i < m.signals.size(); ++i) {
      if (!options_.selection.Matches(m, m.signals[i]) || series_.size() >= kPlotMaxSeries)
        continue;
      indices[i] = static_cast<int>(series_.size());
      std::string name = m.name + "." + m.signals[i].name;
      // The same database on both channels: say which bus a line is.
      if (options_.channelSelection == 0 && decoder_.DatabaseOf(1) == decoder_.DatabaseOf(2))
        name += channel == 1 ? " (CH1)" : " (CH2)";
      series_.emplace_back(std::move(name), &m.signals[i]);
    }
    return indices;
  }

  struct Key {
    const Message* message;
    int channel;
    bool operator==(const Key& o) const { return message == o.message && channel == o.channel; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.message) ^ static_cast<size_t>(k.channel);
    }
  };

  const SignalDecoder& decoder_;
  const PlotOptions& options_;
  DecodeTally& tally_;
  FrameSignals frame_;
  std::vector<PlotSeries> series_;
  std::unordered_map<Key, std::vector<int>, KeyHash> seriesOf_;
};

}  // namespace

ConvertResult PlotCaptureToSvg(const CaptureReader& reader, const SignalDecoder& decoder,
                               const PlotOptions& options, const std::string& path,
                               ProgressSink* progress, DecodeTally& tally) {
  PlotWriter writer(decoder, options, tally);
  return WalkSignals(reader, options.channelSelection, path, progress, tally, writer);
}

}  // namespace ksvw::signals
