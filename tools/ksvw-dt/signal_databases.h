// What decode and plot share: the signal databases of --dbc and --dbc2,
// loaded whole before any capture is read.
#pragma once

#include <string>

#include "signals/signal_decoder.h"

namespace ksvw::dt {

struct DatabaseOptions {
  const char* dbc = nullptr;   // --dbc: both channels, unless --dbc2 is given
  const char* dbc2 = nullptr;  // --dbc2: channel 2

  // 1 when argv[i] was --dbc or --dbc2 with its value (i moved past it), 0
  // otherwise (an OwnOption of file_batch.h).
  int Take(int argc, char** argv, int& i);
};

class LoadedDatabases {
 public:
  // Loads the files; says on standard error what is wrong with the first
  // that fails (file, line, column and the text found) and returns false.
  bool Load(const DatabaseOptions& options);
  const signals::SignalDecoder& Decoder() const { return decoder_; }
  // True when `pattern` matches a signal of a database in use; else says so
  // on standard error, naming `option`.
  bool Matches(const std::string& pattern, const char* option) const;

 private:
  signals::Database first_;
  signals::Database second_;
  signals::SignalDecoder decoder_;
};

}  // namespace ksvw::dt
