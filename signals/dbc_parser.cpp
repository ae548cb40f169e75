#include "signals/dbc_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace ksvw::signals {

namespace {

enum class Tok { End, Identifier, Number, String, Punct, Bad };

struct Token {
  Tok kind = Tok::End;
  std::string_view text;
  int line = 1;
  int column = 1;
  bool lineStart = false;  // the first token of its line

  bool Is(char punct) const { return kind == Tok::Punct && text[0] == punct; }
  bool IsWord(std::string_view word) const { return kind == Tok::Identifier && text == word; }
};

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}

// Splits the text into identifiers, numbers, strings and single-character
// punctuation, with the line and column of each. Strings may span lines;
// a backslash keeps the next character inside the string.
class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = lineBegin_ = 3;  // UTF-8 byte-order mark
  }

  const Token& Peek() {
    if (!havePeek_) {
      peek_ = Lex();
      havePeek_ = true;
    }
    return peek_;
  }
  Token Next() {
    Peek();
    havePeek_ = false;
    return peek_;
  }

 private:
  Token Lex() {
    SkipSpace();
    Token t;
    t.line = line_;
    t.column = static_cast<int>(pos_ - lineBegin_) + 1;
    t.lineStart = atLineStart_;
    atLineStart_ = false;
    const size_t begin = pos_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (IsIdentStart(c)) {
      while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
      t.kind = Tok::Identifier;
    } else if (StartsNumber()) {
      LexNumber();
      t.kind = Tok::Number;
    } else if (c == '"') {
      t.kind = LexString() ? Tok::String : Tok::Bad;
    } else {
      ++pos_;
      static constexpr std::string_view kPunct = ":;,|@+-()[]";
      t.kind = kPunct.find(c) != std::string_view::npos ? Tok::Punct : Tok::Bad;
    }
    t.text = text_.substr(begin, pos_ - begin);
    return t;
  }

  void SkipSpace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        NewLine(pos_ + 1);
      } else if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v') {
        return;
      }
      ++pos_;
    }
  }
  void NewLine(size_t next) {
    ++line_;
    lineBegin_ = next;
    atLineStart_ = true;
  }

  bool DigitAt(size_t i) const { return i < text_.size() && IsDigit(text_[i]); }
  // [+-] digit, or [+-] '.' digit: a sign before anything else is punctuation.
  bool StartsNumber() const {
    size_t i = pos_;
    if (text_[i] == '+' || text_[i] == '-') ++i;
    return DigitAt(i) || (i < text_.size() && text_[i] == '.' && DigitAt(i + 1));
  }
  // [+-] digits [. digits] [e [+-] digits]
  void LexNumber() {
    if (text_[pos_] == '+' || text_[pos_] == '-') ++pos_;
    while (DigitAt(pos_)) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (DigitAt(pos_)) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      size_t i = pos_ + 1;
      if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) ++i;
      if (DigitAt(i)) {
        pos_ = i;
        while (DigitAt(pos_)) ++pos_;
      }
    }
  }
  // False for a string that never closes (the rest of the file).
  bool LexString() {
    ++pos_;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\' && pos_ + 1 < text_.size() && text_[pos_ + 1] != '\n') ++pos_;
      if (text_[pos_] == '\n') NewLine(pos_ + 1);
      ++pos_;
    }
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t lineBegin_ = 0;
  int line_ = 1;
  bool atLineStart_ = true;
  Token peek_;
  bool havePeek_ = false;
};

// Statements whose keyword may not appear at the start of a line inside a
// statement being skipped: meeting one means the skipped statement lost
// its ';'.
bool IsStatementKeyword(std::string_view w) {
  static constexpr std::string_view kKeywords[] = {
      "VERSION",      "NS_",         "BS_",         "BU_",       "BO_",       "SG_",
      "CM_",          "BA_DEF_",     "BA_DEF_DEF_", "BA_",       "VAL_",      "VAL_TABLE_",
      "SIG_VALTYPE_", "SG_MUL_VAL_", "EV_",         "BO_TX_BU_", "SIG_GROUP_"};
  for (std::string_view k : kKeywords) {
    if (w == k) return true;
  }
  return false;
}

// What the parser remembers about a signal beyond the database itself.
struct SignalNotes {
  Token defined;  // its SG_ line, for faults found later
  bool mulVal = false;
  bool valType = false;
  bool labels = false;
};

class Parser {
 public:
  Parser(std::string_view text, std::string_view file, DbcError& error)
      : lex_(text), file_(file), error_(error) {}

  bool Run(Database& db) {
    for (;;) {
      const Token& t = lex_.Peek();
      if (t.kind == Tok::End) break;
      if (t.kind != Tok::Identifier) return Fail(t, "expected a keyword such as BO_ or SG_");
      if (!Statement(db)) return false;
    }
    return ResolveSwitches(db);
  }

 private:
  bool Statement(Database& db) {
    const std::string_view w = lex_.Peek().text;
    if (w == "VERSION") return Version(db);
    if (w == "NS_") return NewSymbols();
    if (w == "BS_") return BitTiming();
    if (w == "BU_") return Nodes(db);
    if (w == "BO_") return MessageStatement(db);
    if (w == "SG_") return Fail(lex_.Peek(), "SG_ outside a message (no BO_ line before it)");
    if (w == "VAL_TABLE_") return ValueTableStatement(db);
    if (w == "VAL_") return ValueDescriptions(db);
    if (w == "CM_") return Comment(db);
    if (w == "BA_") return Attribute(db);
    if (w == "SIG_VALTYPE_") return ValueTypeStatement(db);
    if (w == "SG_MUL_VAL_") return MultiplexRanges(db);
    return SkipStatement(lex_.Next());
  }

  // ---- statements ----

  // VERSION "1.0"
  bool Version(Database& db) {
    lex_.Next();
    return ReadString(kDbcMaxShortText, "the version string", db.version);
  }

  // NS_ :
  //     CM_
  //     BA_DEF_
  // (a list of the keywords the file may use, indented, up to the next
  // line that starts in column 1)
  bool NewSymbols() {
    lex_.Next();
    if (!ExpectPunct(':')) return false;
    while (lex_.Peek().kind == Tok::Identifier &&
           (!lex_.Peek().lineStart || lex_.Peek().column > 1)) {
      lex_.Next();
    }
    return true;
  }

  // BS_: 500 : 12,34   (bus timing, obsolete: the rest of the line)
  bool BitTiming() {
    lex_.Next();
    if (!ExpectPunct(':')) return false;
    while (lex_.Peek().kind != Tok::End && !lex_.Peek().lineStart) {
      const Token t = lex_.Next();
      if (t.kind == Tok::Bad) return Fail(t, "unexpected character");
    }
    return true;
  }

  // BU_: Engine Gateway Dashboard
  bool Nodes(Database& db) {
    lex_.Next();
    if (!ExpectPunct(':')) return false;
    while (lex_.Peek().kind != Tok::End && !lex_.Peek().lineStart) {
      if (db.nodes.size() >= kDbcMaxNodes) return Fail(lex_.Peek(), "too many nodes");
      std::string name;
      if (!ReadName("a node name", name)) return false;
      db.nodes.push_back(std::move(name));
    }
    return true;
  }

  // BO_ 2364540158 EEC1: 8 Engine
  bool MessageStatement(Database& db) {
    lex_.Next();
    Message m;
    Token idToken;
    uint64_t dbcId = 0;
    uint64_t length = 0;
    if (!ReadUnsigned(0xFFFFFFFFu, "a message identifier", dbcId, &idToken) ||
        !ReadName("a message name", m.name) || !ExpectPunct(':') ||
        !ReadUnsigned(64, "the message length in bytes", length)) {
      return false;
    }
    // The sender ends the line: a missing one must not take the next SG_.
    if (lex_.Peek().lineStart)
      return Fail(lex_.Peek(), "expected the sending node on the BO_ line");
    if (!ReadName("the sending node", m.sender)) return false;
    const auto raw = static_cast<uint32_t>(dbcId);
    m.extended = (raw & kExtendedIdFlag) != 0;
    m.id = raw & ~kExtendedIdFlag;
    m.length = static_cast<uint8_t>(length);
    if ((m.id & 0x60000000u) != 0) {
      m.isFrame = false;  // no frame has bits 29 or 30: a holder of loose signals
      m.id = raw;
    } else if (!m.extended && m.id > 0x7FF) {
      return Fail(idToken, "a standard identifier above 0x7FF (bit 31 marks an extended one)");
    }
    if (db.messages.size() >= kDbcMaxMessages) return Fail(idToken, "too many messages");
    if (!messageIndex_.emplace(raw, db.messages.size()).second)
      return Fail(idToken, "a message identifier defined twice");
    db.messages.push_back(std::move(m));
    notes_.emplace_back();
    signalIndex_.emplace_back();
    while (lex_.Peek().IsWord("SG_")) {
      if (!SignalLine(db, db.messages.size() - 1)) return false;
    }
    return true;
  }

  // SG_ EngineSpeed m3 : 24|16@1+ (0.125,0) [0|8031.875] "rpm" Gateway,Dashboard
  bool SignalLine(Database& db, size_t messageIndex) {
    Message& m = db.messages[messageIndex];
    SignalNotes notes;
    notes.defined = lex_.Next();
    Signal s;
    const Token nameToken = lex_.Peek();
    if (!ReadName("a signal name", s.name)) return false;
    if (lex_.Peek().kind == Tok::Identifier && !Multiplexing(s)) return false;
    uint64_t start = 0;
    uint64_t length = 0;
    Token startToken;
    if (!ExpectPunct(':') || !ReadUnsigned(511, "a start bit", start, &startToken) ||
        !ExpectPunct('|') || !ReadUnsigned(64, "a length in bits", length) || !ExpectPunct('@') ||
        !ByteOrderAndSign(s) || !ExpectPunct('(') || !ReadDouble("a factor", s.factor) ||
        !ExpectPunct(',') || !ReadDouble("an offset", s.offset) || !ExpectPunct(')') ||
        !ExpectPunct('[') || !ReadDouble("a minimum", s.minimum) || !ExpectPunct('|') ||
        !ReadDouble("a maximum", s.maximum) || !ExpectPunct(']') ||
        !ReadString(kDbcMaxShortText, "a unit string", s.unit) || !Receivers()) {
      return false;
    }
    if (length == 0) return Fail(startToken, "a signal of 0 bits");
    s.startBit = static_cast<uint16_t>(start);
    s.length = static_cast<uint16_t>(length);
    // The holder of loose signals has no length of its own.
    if (m.isFrame && SignalBytesNeeded(s.startBit, s.length, s.order) > m.length) {
      return Fail(startToken,
                  "signal bits run past the message's " + std::to_string(m.length) + " data bytes");
    }
    if (m.signals.size() >= kDbcMaxSignalsPerMessage || ++signalCount_ > kDbcMaxSignals)
      return Fail(notes.defined, "too many signals");
    if (!signalIndex_[messageIndex]
             .emplace(nameToken.text, static_cast<uint16_t>(m.signals.size()))
             .second) {
      return Fail(nameToken, "a signal name defined twice in this message");
    }
    m.signals.push_back(std::move(s));
    notes_[messageIndex].push_back(notes);
    return true;
  }

  // M | m3 | m3M
  bool Multiplexing(Signal& s) {
    const Token t = lex_.Next();
    std::string_view w = t.text;
    if (w == "M") {
      s.isSwitch = true;
      return true;
    }
    if (w.size() >= 2 && w[0] == 'm' && IsDigit(w[1])) {
      w.remove_prefix(1);
      if (w.back() == 'M') {
        s.isSwitch = true;
        w.remove_suffix(1);
      }
      uint64_t value = 0;
      auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), value);
      if (ec == std::errc() && end == w.data() + w.size() && value <= 0xFFFFFFFFu) {
        s.muxValue = static_cast<int64_t>(value);
        return true;
      }
    }
    return Fail(t, "expected ':' or a multiplexer indicator (M, m0, m0M)");
  }

  // @1+  (1 Intel, 0 Motorola; + unsigned, - signed)
  bool ByteOrderAndSign(Signal& s) {
    const Token order = lex_.Next();
    if (order.kind != Tok::Number || (order.text != "0" && order.text != "1"))
      return Fail(order, "expected 0 (Motorola) or 1 (Intel) after '@'");
    s.order = order.text == "1" ? ByteOrder::Intel : ByteOrder::Motorola;
    const Token sign = lex_.Next();
    if (!sign.Is('+') && !sign.Is('-')) return Fail(sign, "expected + (unsigned) or - (signed)");
    s.type = sign.Is('-') ? ValueType::Signed : ValueType::Unsigned;
    return true;
  }

  // Gateway,Dashboard  (optional, to the end of the line)
  bool Receivers() {
    if (lex_.Peek().lineStart || lex_.Peek().kind != Tok::Identifier) return true;
    std::string name;
    if (!ReadName("a receiving node", name)) return false;
    while (lex_.Peek().Is(',') && !lex_.Peek().lineStart) {
      lex_.Next();
      if (!ReadName("a receiving node", name)) return false;
    }
    return true;
  }

  // VAL_TABLE_ GearTable 2 "Second" 1 "First" 0 "Neutral" ;
  bool ValueTableStatement(Database& db) {
    lex_.Next();
    ValueTable table;
    if (!ReadName("a value table name", table.name) || !Labels(table.labels)) return false;
    db.valueTables.push_back(std::move(table));
    return true;
  }

  // VAL_ 100 Gear 2 "Second" 1 "First" 0 "Neutral" ;
  // VAL_ EnvironmentVariable 0 "Off" 1 "On" ;   (skipped)
  bool ValueDescriptions(Database& db) {
    const Token keyword = lex_.Next();
    if (lex_.Peek().kind == Tok::Identifier) return SkipStatement(keyword);
    Signal* s = nullptr;
    SignalNotes* notes = nullptr;
    Token at;
    if (!SignalReference(db, s, notes, at)) return false;
    if (notes->labels) return Fail(at, "value descriptions given twice for this signal");
    notes->labels = true;
    return Labels(s->labels);
  }

  // 2 "Second" 1 "First" ;   sorted by value afterwards
  bool Labels(std::vector<ValueLabel>& labels) {
    std::unordered_set<int64_t> seen;
    while (!lex_.Peek().Is(';')) {
      Token valueToken;
      ValueLabel label;
      if (!ReadInteger("a value or ';'", label.value, valueToken) ||
          !ReadString(kDbcMaxShortText, "a value description string", label.text)) {
        return false;
      }
      if (!seen.insert(label.value).second) return Fail(valueToken, "a value described twice");
      if (++labelCount_ > kDbcMaxLabels) return Fail(valueToken, "too many value descriptions");
      labels.push_back(std::move(label));
    }
    lex_.Next();
    std::sort(labels.begin(), labels.end(),
              [](const ValueLabel& a, const ValueLabel& b) { return a.value < b.value; });
    return true;
  }

  // CM_ "database comment";
  // CM_ BU_ Engine "node comment";
  // CM_ BO_ 100 "message comment";
  // CM_ SG_ 100 EngineSpeed "signal comment";
  bool Comment(Database& db) {
    lex_.Next();
    std::string text;
    const Token& t = lex_.Peek();
    if (t.kind == Tok::String) {
      return ReadString(kDbcMaxTextLength, "a comment", text) && ExpectPunct(';');
    }
    if (t.IsWord("BU_") || t.IsWord("EV_")) {
      lex_.Next();
      std::string name;
      return ReadName("a name", name) && ReadString(kDbcMaxTextLength, "a comment", text) &&
             ExpectPunct(';');
    }
    if (t.IsWord("BO_")) {
      lex_.Next();
      Message* m = nullptr;
      return MessageReference(db, m) && ReadString(kDbcMaxTextLength, "a comment", m->comment) &&
             ExpectPunct(';');
    }
    if (t.IsWord("SG_")) {
      lex_.Next();
      Signal* s = nullptr;
      SignalNotes* notes = nullptr;
      Token at;
      return SignalReference(db, s, notes, at) &&
             ReadString(kDbcMaxTextLength, "a comment", s->comment) && ExpectPunct(';');
    }
    return Fail(t, "expected a comment string or BU_, BO_, SG_ or EV_");
  }

  // BA_ "GenMsgCycleTime" BO_ 100 100;   (other attributes skipped)
  bool Attribute(Database& db) {
    const Token keyword = lex_.Next();
    std::string name;
    if (!ReadString(kDbcMaxNameLength, "an attribute name", name)) return false;
    if (name != "GenMsgCycleTime" || !lex_.Peek().IsWord("BO_")) return SkipStatement(keyword);
    lex_.Next();
    Message* m = nullptr;
    uint64_t ms = 0;
    if (!MessageReference(db, m) || !ReadUnsigned(0x7FFFFFFF, "a cycle time in ms", ms) ||
        !ExpectPunct(';')) {
      return false;
    }
    m->cycleTimeMs = static_cast<int32_t>(ms);
    return true;
  }

  // SIG_VALTYPE_ 100 OilTemperature : 1;   (1 IEEE float, 2 IEEE double)
  bool ValueTypeStatement(Database& db) {
    lex_.Next();
    Signal* s = nullptr;
    SignalNotes* notes = nullptr;
    Token at;
    Token typeToken;
    uint64_t type = 0;
    if (!SignalReference(db, s, notes, at) || !ExpectPunct(':') ||
        !ReadUnsigned(2, "0 (integer), 1 (float) or 2 (double)", type, &typeToken) ||
        !ExpectPunct(';')) {
      return false;
    }
    if (notes->valType) return Fail(at, "a value type given twice for this signal");
    notes->valType = true;
    if (type == 0) return true;
    const int bits = type == 1 ? 32 : 64;
    if (s->length != bits) {
      return Fail(typeToken, "an IEEE " + std::string(type == 1 ? "float" : "double") + " needs " +
                                 std::to_string(bits) + " bits, the signal has " +
                                 std::to_string(s->length));
    }
    s->type = type == 1 ? ValueType::Float32 : ValueType::Float64;
    return true;
  }

  // SG_MUL_VAL_ 2024 Speed Mode 1-1, 4-6;
  bool MultiplexRanges(Database& db) {
    lex_.Next();
    Signal* s = nullptr;
    SignalNotes* notes = nullptr;
    Token at;
    Message* m = nullptr;
    size_t messageIndex = 0;
    if (!MessageReference(db, m, &messageIndex) || !SignalIn(db, messageIndex, s, notes, at))
      return false;
    Token switchToken;
    Signal* sw = nullptr;
    SignalNotes* switchNotes = nullptr;
    if (!SignalIn(db, messageIndex, sw, switchNotes, switchToken)) return false;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    do {
      if (!ranges.empty()) lex_.Next();  // the ','
      std::pair<uint64_t, uint64_t> r;
      Token rangeToken;
      if (!Range(r, rangeToken)) return false;
      if (ranges.size() >= kDbcMaxRanges) return Fail(rangeToken, "too many ranges");
      ranges.push_back(r);
    } while (lex_.Peek().Is(','));
    if (!ExpectPunct(';')) return false;
    if (s->muxValue < 0) return Fail(at, "this signal is not multiplexed (no mN in its SG_ line)");
    if (!sw->isSwitch || sw == s) return Fail(switchToken, "not a multiplexer switch (no M)");
    if (notes->mulVal) return Fail(at, "SG_MUL_VAL_ given twice for this signal");
    notes->mulVal = true;
    const auto self = static_cast<uint16_t>(s - m->signals.data());
    const auto switchIndex = static_cast<uint16_t>(sw - m->signals.data());
    // A switch that depends, through its own switches, on this signal.
    for (uint16_t i = switchIndex; i != kNoSignal; i = m->signals[i].switchIndex) {
      if (i == self) return Fail(switchToken, "switches that depend on each other");
    }
    s->switchIndex = switchIndex;
    s->switchRanges = std::move(ranges);
    return true;
  }

  // 4-6   (the lexer reads "-6" as a negative number)
  bool Range(std::pair<uint64_t, uint64_t>& r, Token& at) {
    at = lex_.Peek();
    if (!ReadUnsigned(~uint64_t{0}, "a range such as 1-3", r.first)) return false;
    Token high = lex_.Next();
    if (high.Is('-')) {
      high = lex_.Next();
    } else if (high.kind == Tok::Number && high.text[0] == '-') {
      high.text.remove_prefix(1);
    } else {
      return Fail(high, "expected '-' and the range's upper end");
    }
    if (!ParseUnsigned(high, ~uint64_t{0}, "the range's upper end", r.second)) return false;
    if (r.second < r.first) return Fail(at, "a range whose end lies below its start");
    return true;
  }

  // Anything else: up to its ';'.
  bool SkipStatement(const Token& keyword) {
    for (;;) {
      const Token t = lex_.Next();
      if (t.Is(';')) return true;
      if (t.kind == Tok::End || t.kind == Tok::Bad ||
          (t.lineStart && t.kind == Tok::Identifier && IsStatementKeyword(t.text))) {
        return Fail(t, "expected ';' to end the " + std::string(keyword.text) +
                           " statement of line " + std::to_string(keyword.line));
      }
    }
  }

  // Multiplexed signals without SG_MUL_VAL_ hang on their message's one
  // switch that is not itself multiplexed.
  bool ResolveSwitches(Database& db) {
    for (size_t mi = 0; mi < db.messages.size(); ++mi) {
      Message& m = db.messages[mi];
      uint16_t top = kNoSignal;
      int tops = 0;
      for (size_t i = 0; i < m.signals.size(); ++i) {
        if (m.signals[i].isSwitch && m.signals[i].muxValue < 0) {
          top = static_cast<uint16_t>(i);
          ++tops;
        }
      }
      for (size_t i = 0; i < m.signals.size(); ++i) {
        Signal& s = m.signals[i];
        if (s.muxValue < 0 || notes_[mi][i].mulVal) continue;
        if (tops != 1) {
          return Fail(notes_[mi][i].defined,
                      tops == 0 ? "a multiplexed signal in a message without a switch (M)"
                                : "a multiplexed signal whose switch is not named (the message "
                                  "has several; SG_MUL_VAL_ names it)");
        }
        s.switchIndex = top;
        const auto v = static_cast<uint64_t>(s.muxValue);
        s.switchRanges.assign(1, {v, v});
      }
    }
    return true;
  }

  // ---- references ----

  bool MessageReference(Database& db, Message*& m, size_t* index = nullptr) {
    Token at;
    uint64_t id = 0;
    if (!ReadUnsigned(0xFFFFFFFFu, "a message identifier", id, &at)) return false;
    auto it = messageIndex_.find(static_cast<uint32_t>(id));
    if (it == messageIndex_.end()) return Fail(at, "no message has this identifier");
    m = &db.messages[it->second];
    if (index != nullptr) *index = it->second;
    return true;
  }
  bool SignalIn(Database& db, size_t messageIndex, Signal*& s, SignalNotes*& notes, Token& at) {
    at = lex_.Peek();
    std::string name;
    if (!ReadName("a signal name", name)) return false;
    auto it = signalIndex_[messageIndex].find(at.text);
    if (it == signalIndex_[messageIndex].end())
      return Fail(at, "no signal of this name in the message");
    s = &db.messages[messageIndex].signals[it->second];
    notes = &notes_[messageIndex][it->second];
    return true;
  }
  bool SignalReference(Database& db, Signal*& s, SignalNotes*& notes, Token& at) {
    Message* m = nullptr;
    size_t index = 0;
    return MessageReference(db, m, &index) && SignalIn(db, index, s, notes, at);
  }

  // ---- tokens ----

  bool ExpectPunct(char c) {
    const Token t = lex_.Next();
    if (t.Is(c)) return true;
    return Fail(t, std::string("expected '") + c + "'");
  }

  bool ReadName(const char* what, std::string& out) {
    const Token t = lex_.Next();
    if (t.kind != Tok::Identifier) return Fail(t, std::string("expected ") + what);
    if (t.text.size() > kDbcMaxNameLength) return Fail(t, "a name longer than 128 characters");
    out.assign(t.text);
    return true;
  }

  bool ParseUnsigned(const Token& t, uint64_t max, const char* what, uint64_t& out) {
    std::string_view s = t.text;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (t.kind != Tok::Number || s.empty() || !IsDigit(s[0]) || end != s.data() + s.size())
      return Fail(t, std::string("expected ") + what);
    if (ec != std::errc() || out > max)
      return Fail(t, std::string(what) + " above " + std::to_string(max));
    return true;
  }
  bool ReadUnsigned(uint64_t max, const char* what, uint64_t& out, Token* at = nullptr) {
    const Token t = lex_.Next();
    if (at != nullptr) *at = t;
    return ParseUnsigned(t, max, what, out);
  }

  bool ReadInteger(const char* what, int64_t& out, Token& t) {
    t = lex_.Next();
    std::string_view s = t.text;
    if (t.kind == Tok::Number && s[0] == '+') s.remove_prefix(1);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (t.kind != Tok::Number || end != s.data() + s.size() || s.empty())
      return Fail(t, std::string("expected ") + what + " (an integer)");
    if (ec != std::errc()) return Fail(t, "an integer out of range");
    return true;
  }

  bool ReadDouble(const char* what, double& out) {
    const Token t = lex_.Next();
    std::string_view s = t.text;
    if (t.kind == Tok::Number && s[0] == '+') s.remove_prefix(1);
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    if (t.kind != Tok::Number || end != s.data() + s.size())
      return Fail(t, std::string("expected ") + what);
    if (ec != std::errc() || !std::isfinite(out)) return Fail(t, "a number out of range");
    return true;
  }

  // "text", with \" and \\ read as the character after the backslash.
  bool ReadString(size_t limit, const char* what, std::string& out) {
    const Token t = lex_.Next();
    if (t.kind == Tok::Bad && t.text[0] == '"') return Fail(t, "a string that is never closed");
    if (t.kind != Tok::String) return Fail(t, std::string("expected ") + what);
    const std::string_view body = t.text.substr(1, t.text.size() - 2);
    if (body.size() > limit)
      return Fail(t, "a string longer than " + std::to_string(limit) + " characters");
    out.clear();
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '\\' && i + 1 < body.size() && (body[i + 1] == '"' || body[i + 1] == '\\'))
        ++i;
      out.push_back(body[i]);
    }
    return true;
  }

  bool Fail(const Token& at, std::string message) {
    error_.file.assign(file_);
    error_.line = at.line;
    error_.column = at.column;
    error_.message = std::move(message);
    if (at.kind == Tok::End) {
      error_.found = "end of file";
    } else {
      constexpr size_t kShown = 32;
      error_.found.clear();
      for (char c : at.text.substr(0, kShown)) {
        const auto u = static_cast<unsigned char>(c);
        error_.found.push_back(u >= 0x20 && u != 0x7F ? c : '?');
      }
      if (at.text.size() > kShown) error_.found += "...";
    }
    return false;
  }

  Lexer lex_;
  std::string_view file_;
  DbcError& error_;
  std::unordered_map<uint32_t, size_t> messageIndex_;  // by the DBC identifier as written
  std::vector<std::vector<SignalNotes>> notes_;        // per message, per signal
  std::vector<std::unordered_map<std::string_view, uint16_t>> signalIndex_;
  size_t signalCount_ = 0;
  size_t labelCount_ = 0;
};

}  // namespace

std::string DbcError::Text() const {
  if (line == 0) return file + ": " + message;
  std::string text =
      file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
  if (!found.empty())
    text += found == "end of file" ? " (at the end of the file)" : " (found '" + found + "')";
  return text;
}

bool ParseDbc(std::string_view text, std::string_view fileName, Database& out, DbcError& error) {
  Database db;
  Parser parser(text, fileName, error);
  if (!parser.Run(db)) return false;
  db.Finalise();
  out = std::move(db);
  return true;
}

bool LoadDbcFile(const std::string& path, Database& out, DbcError& error) {
  error = DbcError{};
  error.file = path;
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) {
    error.message = "no such file";
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error.message = "not a file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error.message = "cannot be opened";
    return false;
  }
  // One byte more than the size found tells a file that grew meanwhile.
  const uintmax_t expected = std::filesystem::file_size(path, ec);
  const size_t capacity =
      ec ? 0 : static_cast<size_t>(std::min<uintmax_t>(expected, kDbcMaxFileBytes)) + 1;
  std::unique_ptr<char[]> buffer(ec ? nullptr : new (std::nothrow) char[capacity]);
  const size_t size = buffer ? std::fread(buffer.get(), 1, capacity, file) : 0;
  const bool readFailed = !buffer || std::ferror(file) != 0;
  std::fclose(file);
  if (readFailed) {
    error.message = "cannot be read";
    return false;
  }
  if (size > kDbcMaxFileBytes || expected > kDbcMaxFileBytes) {
    error.message = "larger than 32 MiB: not a signal database";
    return false;
  }
  return ParseDbc(std::string_view(buffer.get(), size), path, out, error);
}

}  // namespace ksvw::signals
