// Reader of DBC signal databases, as Vector's tools write them.
//
// Kept: VERSION, BU_, BO_ with its SG_ lines (standard and extended
// identifiers, both byte orders, signed values, multiplexing "M", "mN" and
// "mNM"), SG_MUL_VAL_, VAL_, VAL_TABLE_, SIG_VALTYPE_ (IEEE float and
// double), the comments of messages and signals (CM_) and the attribute
// GenMsgCycleTime (BA_). Every other statement is skipped up to its ';'
// (NS_ and BS_, which have none, to the end of their section or line).
//
// The reader is strict: a file is loaded whole or not at all. The first
// fault stops it with the file, line and column and the text found there;
// so do references to messages or signals the file does not define, and
// files beyond the limits below.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "signals/signal_database.h"

namespace ksvw::signals {

// Limits on what one file may hold: a hostile file costs at most a few tens
// of megabytes and never an unbounded allocation.
inline constexpr size_t kDbcMaxFileBytes = 32u << 20;
inline constexpr size_t kDbcMaxMessages = 16384;
inline constexpr size_t kDbcMaxSignalsPerMessage = 1024;
inline constexpr size_t kDbcMaxSignals = 131072;
inline constexpr size_t kDbcMaxLabels = 1u << 20;  // value descriptions, all tables together
inline constexpr size_t kDbcMaxNodes = 4096;
inline constexpr size_t kDbcMaxNameLength = 128;
inline constexpr size_t kDbcMaxTextLength = 65536;  // a comment
inline constexpr size_t kDbcMaxShortText = 256;     // a unit, a label, the version
inline constexpr size_t kDbcMaxRanges = 256;        // SG_MUL_VAL_ ranges of one signal

struct DbcError {
  std::string file;
  int line = 0;    // 1-based; 0 when the file could not be read at all
  int column = 0;  // 1-based, in bytes
  std::string message;
  std::string found;  // the text at the fault, cut short; "end of file" at the end
  // "FILE:LINE:COLUMN: MESSAGE (found 'TEXT')", or "FILE: MESSAGE".
  std::string Text() const;
};

// Reads `text` into `out`. On failure `out` is left as it was and `error`
// says where and why; `fileName` is only used in the error.
bool ParseDbc(std::string_view text, std::string_view fileName, Database& out, DbcError& error);

// Reads the file at `path` and parses it.
bool LoadDbcFile(const std::string& path, Database& out, DbcError& error);

}  // namespace ksvw::signals
