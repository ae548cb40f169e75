// The main window's signals pane without windows: the database of each
// channel (as SETTING.ini's DBC section names it), and the signals of the
// selected record as rows of cells. The pane decodes the record once when
// the selection moves; the list control then asks for cells, which are
// formatted from that one decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "signals/dbc_parser.h"
#include "signals/signal_decoder.h"

namespace ksvw::signals {

enum class PaneState {
  NoRecord,       // no row selected
  NotDecoded,     // remote frame, LIN record or marker
  NoDatabase,     // a frame of a channel without a database
  NotInDatabase,  // a frame whose identifier its channel's database lacks
  Decoded,
};

enum PaneColumn : int { kPaneName, kPaneValue, kPaneUnit, kPaneLabel, kPaneRaw };
inline constexpr int kPaneColumnCount = kPaneRaw + 1;

class SignalPane {
 public:
  SignalPane();
  SignalPane(const SignalPane&) = delete;
  SignalPane& operator=(const SignalPane&) = delete;

  // Gives `channel` (1 or 2) the database read from `path`; an empty path
  // leaves it none. False (and `error` says why) when the file cannot be
  // read; the channel then has no database. The shown record is forgotten.
  bool Load(int channel, const std::string& path, DbcError& error);
  // Takes a database already read (the dialog reads both before it
  // changes either).
  void Set(int channel, Database&& database, const std::string& path);
  // The path SETTING.ini names for the channel, read or not.
  const std::string& Path(int channel) const;
  // A channel has a database: the pane is shown.
  bool Active() const;

  // Decodes `record` (null: no row selected).
  void Show(const CaptureRecord* record);
  PaneState State() const { return state_; }
  int Rows() const { return state_ == PaneState::Decoded ? frame_.count : 0; }
  int BeyondFrame() const { return state_ == PaneState::Decoded ? frame_.beyondFrame : 0; }
  // "CH1  100  EngineData", "CH2  18FEF200" (no message), or "" when
  // no frame is shown.
  std::string Heading() const;
  // Text of a cell into `out` (`capacity` bytes), cut to fit; "" outside
  // the rows. Returns the length.
  size_t Cell(int row, int column, char* out, size_t capacity) const;

 private:
  Database databases_[2];
  bool loaded_[2] = {};
  std::string paths_[2];
  SignalDecoder decoder_;
  FrameSignals frame_;
  PaneState state_ = PaneState::NoRecord;
};

// The pane's height in a client area `available` pixels high below the
// toolbar: a third of it, but never less than the list keeps.
int SignalPaneHeight(int available);

}  // namespace ksvw::signals
