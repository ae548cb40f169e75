// Signals over time as an SVG picture: one panel per unit, a time axis in
// seconds from the capture's first record, value-table labels on the value
// axis where a signal has them, and a legend. Plain SVG 1.1 text: any
// browser shows it, rsvg-convert turns it into a PNG.
//
// A capture may hold millions of values of one signal; the picture keeps
// per series a bounded number of time buckets (first, last, lowest and
// highest value of each), so its size and the memory it takes do not grow
// with the capture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signals/signal_export.h"

namespace ksvw::signals {

inline constexpr size_t kPlotMaxSeries = 32;
inline constexpr size_t kPlotMaxBuckets = 2048;  // per series

// Values of one signal, reduced to time buckets as they arrive.
class PlotSeries {
 public:
  struct Bucket {
    uint64_t firstTicks, lastTicks;
    double first, last, low, high;
  };

  PlotSeries(std::string name, const Signal* signal) : name_(std::move(name)), signal_(signal) {}

  // Times never go back (the walk's time is the capture's, unwrapped).
  void Add(uint64_t ticks, double value);

  const std::string& Name() const { return name_; }
  const Signal& SignalOf() const { return *signal_; }
  const std::vector<Bucket>& Buckets() const { return buckets_; }

 private:
  void Coarsen();

  std::string name_;
  const Signal* signal_;
  std::vector<Bucket> buckets_;
  uint64_t width_ = 1;  // ticks per bucket, doubled whenever the buckets run out
};

struct PlotOptions {
  uint8_t channelSelection = 0;
  SignalSelection selection;  // the signals to draw
  std::string title;
};

// Writes the picture of the capture loaded in `reader` to `path`. Signals
// are drawn in the order their first value appears, at most kPlotMaxSeries.
ConvertResult PlotCaptureToSvg(const CaptureReader& reader, const SignalDecoder& decoder,
                               const PlotOptions& options, const std::string& path,
                               ProgressSink* progress, DecodeTally& tally);

// The SVG text of finished series (kept apart from the walk for tests).
std::string PlotSvg(const std::vector<PlotSeries>& series, const std::string& title);

}  // namespace ksvw::signals
