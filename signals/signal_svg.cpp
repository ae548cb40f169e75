// The plot's drawing: panels of one unit each, stacked, each with its
// legend, value axis and time axis.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "convert/export_walk.h"
#include "signals/signal_plot.h"
#include "signals/value_text.h"

namespace ksvw::signals {

namespace {

constexpr int kWidth = 1000;
constexpr int kLeft = 170;  // room for value-table labels
constexpr int kRight = 30;
constexpr int kPlotWidth = kWidth - kLeft - kRight;
constexpr int kTitleHeight = 40;
constexpr int kPlotHeight = 170;
constexpr int kAxisHeight = 40;
constexpr int kLegendLine = 18;
constexpr int kCharWidth = 7;  // of the legend's 12-pixel sans-serif, roughly
constexpr size_t kMaxLabelChars = 22;
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                    "#9467bd", "#8c564b", "#e377c2", "#17becf"};

// Text for XML: markup characters escaped; control characters and bytes
// that are no UTF-8 (DBC files are often Windows-1252) become '?'.
std::string Xml(std::string_view text, size_t maxChars = std::string::npos) {
  std::string out;
  size_t chars = 0;
  for (size_t i = 0; i < text.size() && chars < maxChars; ++chars) {
    const auto c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80             ? 0
                : (c & 0xE0) == 0xC0 ? 1
                : (c & 0xF0) == 0xE0 ? 2
                : (c & 0xF8) == 0xF0 ? 3
                                     : -1;
    bool valid =
        extra >= 0 && i + static_cast<size_t>(extra) < text.size() && !(c >= 0x80 && c < 0xC2);
    for (int k = 1; valid && k <= extra; ++k)
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += '?';
        } else {
          out.append(text.substr(i, static_cast<size_t>(extra) + 1));
        }
    }
    i += static_cast<size_t>(extra) + 1;
  }
  if (chars == maxChars && maxChars != std::string::npos) out += "...";
  return out;
}

std::string Fixed(double v, int decimals) {
  if (std::fabs(v) < 0.5 * std::pow(10, -decimals)) v = 0;  // never "-0.0"
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

struct Tick {
  double value;
  std::string text;
};

// About five ticks at 1, 2 or 5 times a power of ten.
std::vector<Tick> NumberTicks(double low, double high) {
  const double raw = (high - low) / 5;
  const double power = std::pow(10, std::floor(std::log10(raw)));
  const double mantissa = raw / power;
  const double step = (mantissa < 1.5 ? 1 : mantissa < 3.5 ? 2 : mantissa < 7.5 ? 5 : 10) * power;
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  std::vector<Tick> ticks;
  for (double k = std::ceil(low / step); k * step <= high + step * 1e-9 && ticks.size() < 12; ++k)
    ticks.push_back(Tick{k * step, Fixed(k * step, decimals)});
  return ticks;
}

// Signals with value tables share a panel only when their labels are the
// same: the value axis shows one table's labels.
bool SameLabels(const Signal& a, const Signal& b) {
  return std::equal(a.labels.begin(), a.labels.end(), b.labels.begin(), b.labels.end(),
                    [](const ValueLabel& x, const ValueLabel& y) {
                      return x.value == y.value && x.text == y.text;
                    });
}

struct Panel {
  std::string unit;
  std::vector<size_t> series;
  double low = 0, high = 0;
  bool any = false;
};

class Drawing {
 public:
  Drawing(const std::vector<PlotSeries>& series, const std::string& title)
      : series_(series), title_(title) {}

  std::string Svg() {
    GroupPanels();
    TimeRange();
    int height = kTitleHeight;
    for (const Panel& p : panels_) height += LegendHeight(p) + kPlotHeight + kAxisHeight;
    if (panels_.empty()) height += 40;
    Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    Put("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(kWidth) +
        "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(kWidth) +
        " " + std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n");
    Put("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
    Put("<text x=\"" + std::to_string(kLeft) + "\" y=\"26\" font-size=\"16\">" + Xml(title_) +
        "</text>\n");
    int top = kTitleHeight;
    if (panels_.empty()) {
      Put("<text x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(top + 20) +
          "\">no values of the chosen signals</text>\n");
    }
    for (const Panel& p : panels_) top = DrawPanel(p, top);
    Put("</svg>\n");
    return std::move(svg_);
  }

 private:
  void Put(const std::string& s) { svg_ += s; }

  void GroupPanels() {
    for (size_t i = 0; i < series_.size(); ++i) {
      const PlotSeries& s = series_[i];
      if (s.Buckets().empty()) continue;
      auto it = std::find_if(panels_.begin(), panels_.end(), [&](const Panel& p) {
        return p.unit == s.SignalOf().unit &&
               SameLabels(series_[p.series[0]].SignalOf(), s.SignalOf());
      });
      if (it == panels_.end()) it = panels_.insert(panels_.end(), Panel{s.SignalOf().unit, {}});
      it->series.push_back(i);
      for (const PlotSeries::Bucket& b : s.Buckets()) {
        it->low = it->any ? std::min(it->low, b.low) : b.low;
        it->high = it->any ? std::max(it->high, b.high) : b.high;
        it->any = true;
      }
    }
    for (Panel& p : panels_) {
      const double pad =
          p.high > p.low ? (p.high - p.low) * 0.05 : std::max(1.0, std::fabs(p.high) * 0.05);
      p.low -= pad;
      p.high += pad;
    }
  }

  void TimeRange() {
    bool any = false;
    for (const PlotSeries& s : series_) {
      if (s.Buckets().empty()) continue;
      const double first = Seconds(s.Buckets().front().firstTicks);
      const double last = Seconds(s.Buckets().back().lastTicks);
      t0_ = any ? std::min(t0_, first) : first;
      t1_ = any ? std::max(t1_, last) : last;
      any = true;
    }
    if (t1_ <= t0_) t1_ = t0_ + 1;
  }

  static double Seconds(uint64_t ticks) {
    return static_cast<double>(ticks) / exporting::kTicksPerSecond;
  }
  double X(double seconds) const { return kLeft + (seconds - t0_) / (t1_ - t0_) * kPlotWidth; }
  static double Y(const Panel& p, int top, double v) {
    return top + (p.high - v) / (p.high - p.low) * kPlotHeight;
  }
  static std::string N(double v) { return Fixed(v, 1); }

  int LegendWidth(const PlotSeries& s) const {
    return 24 + kCharWidth * static_cast<int>(std::min(s.Name().size(), size_t{60})) + 16;
  }
  int LegendHeight(const Panel& p) const {
    int lines = 1, x = 0;
    for (size_t i : p.series) {
      const int w = LegendWidth(series_[i]);
      if (x > 0 && x + w > kPlotWidth) {
        ++lines;
        x = 0;
      }
      x += w;
    }
    return 8 + lines * kLegendLine;
  }

  // Legend, frame, value axis, time axis and lines of one panel; returns
  // the top of the next.
  int DrawPanel(const Panel& p, int top) {
    Put("<text x=\"10\" y=\"" + std::to_string(top + 14) + "\" font-weight=\"bold\">" +
        Xml(p.unit.empty() ? "(no unit)" : p.unit, kMaxLabelChars) + "</text>\n");
    int x = 0, y = top + 14;
    for (size_t i : p.series) {
      const int w = LegendWidth(series_[i]);
      if (x > 0 && x + w > kPlotWidth) {
        x = 0;
        y += kLegendLine;
      }
      const std::string colour = kColours[i % std::size(kColours)];
      Put("<line x1=\"" + std::to_string(kLeft + x) + "\" y1=\"" + std::to_string(y - 4) +
          "\" x2=\"" + std::to_string(kLeft + x + 18) + "\" y2=\"" + std::to_string(y - 4) +
          "\" stroke=\"" + colour + "\" stroke-width=\"3\"/>\n");
      Put("<text x=\"" + std::to_string(kLeft + x + 24) + "\" y=\"" + std::to_string(y) + "\">" +
          Xml(series_[i].Name(), 60) + "</text>\n");
      x += w;
    }
    const int plotTop = top + LegendHeight(p);
    Put("<rect x=\"" + std::to_string(kLeft) + "\" y=\"" + std::to_string(plotTop) + "\" width=\"" +
        std::to_string(kPlotWidth) + "\" height=\"" + std::to_string(kPlotHeight) +
        "\" fill=\"none\" stroke=\"#888\"/>\n");
    for (const Tick& t : ValueTicks(p)) {
      const std::string ty = N(Y(p, plotTop, t.value));
      Put("<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + ty + "\" x2=\"" +
          std::to_string(kLeft + kPlotWidth) + "\" y2=\"" + ty + "\" stroke=\"#ddd\"/>\n");
      Put("<text x=\"" + std::to_string(kLeft - 6) + "\" y=\"" + N(Y(p, plotTop, t.value) + 4) +
          "\" text-anchor=\"end\">" + Xml(t.text, kMaxLabelChars) + "</text>\n");
    }
    const int axisY = plotTop + kPlotHeight;
    for (const Tick& t : NumberTicks(t0_, t1_)) {
      const std::string tx = N(X(t.value));
      Put("<line x1=\"" + tx + "\" y1=\"" + std::to_string(axisY) + "\" x2=\"" + tx + "\" y2=\"" +
          std::to_string(axisY + 5) + "\" stroke=\"#888\"/>\n");
      Put("<text x=\"" + tx + "\" y=\"" + std::to_string(axisY + 18) +
          "\" text-anchor=\"middle\">" + t.text + "</text>\n");
    }
    Put("<text x=\"" + std::to_string(kLeft + kPlotWidth) + "\" y=\"" + std::to_string(axisY + 34) +
        "\" text-anchor=\"end\">time (s)</text>\n");
    for (size_t i : p.series) DrawLine(p, plotTop, series_[i], kColours[i % std::size(kColours)]);
    return axisY + kAxisHeight;
  }

  // The labels of the panel's signals, where they fall inside the panel;
  // numbers otherwise.
  std::vector<Tick> ValueTicks(const Panel& p) const {
    for (size_t i : p.series) {
      const Signal& s = series_[i].SignalOf();
      if (s.labels.empty()) continue;
      std::vector<Tick> ticks;
      for (const ValueLabel& l : s.labels) {
        const double v = static_cast<double>(l.value) * s.factor + s.offset;
        if (v >= p.low && v <= p.high) ticks.push_back(Tick{v, l.text});
      }
      // Every k-th label when they would overlap.
      const size_t k = ticks.size() / 12 + 1;
      std::vector<Tick> kept;
      for (size_t j = 0; j < ticks.size(); j += k) kept.push_back(ticks[j]);
      if (!kept.empty()) return kept;
    }
    return NumberTicks(p.low, p.high);
  }

  // Steps: a value holds until the next one. Within a bucket its lowest and
  // highest values stand at its middle.
  void DrawLine(const Panel& p, int top, const PlotSeries& s, const char* colour) {
    std::string d;
    auto to = [&d](char command, double v) { d.append(1, command).append(N(v)); };
    for (const PlotSeries::Bucket& b : s.Buckets()) {
      const double x0 = X(Seconds(b.firstTicks));
      const double x1 = X(Seconds(b.lastTicks));
      if (d.empty()) {
        to('M', x0);
        d.append(1, ' ').append(N(Y(p, top, b.first)));
      } else {
        to('H', x0);
        to('V', Y(p, top, b.first));
      }
      if (b.low != b.high) {
        to('H', (x0 + x1) / 2);
        to('V', Y(p, top, b.low));
        to('V', Y(p, top, b.high));
      }
      to('H', x1);
      to('V', Y(p, top, b.last));
    }
    Put("<path d=\"" + d + "\" fill=\"none\" stroke=\"" + colour +
        "\" stroke-width=\"1.5\" stroke-linejoin=\"round\"/>\n");
  }

  const std::vector<PlotSeries>& series_;
  const std::string& title_;
  std::vector<Panel> panels_;
  double t0_ = 0, t1_ = 1;
  std::string svg_;
};

}  // namespace

std::string PlotSvg(const std::vector<PlotSeries>& series, const std::string& title) {
  return Drawing(series, title).Svg();
}

}  // namespace ksvw::signals
