#include "convert/export_walk.h"

namespace ksvw::exporting {

namespace {

using namespace digits;

char* Copy(char* p, const char* text) {
  const size_t n = std::strlen(text);
  std::memcpy(p, text, n);
  return p + n;
}

// " (no slave response, parity error)": the classes of LinErrorFlags.
char* ErrorClasses(char* p, uint8_t flags) {
  static constexpr struct {
    uint8_t flag;
    const char* text;
  } kClasses[] = {{kLinNoSlaveResponse, "no slave response"},
                  {kLinFramingError, "framing error"},
                  {kLinParityError, "parity error"},
                  {kLinChecksumError, "checksum error"},
                  {kLinOverflowError, "overflow error"}};
  const char* separator = " (";
  for (const auto& c : kClasses) {
    if ((flags & c.flag) == 0) continue;
    p = Copy(Copy(p, separator), c.text);
    separator = ", ";
  }
  return flags != 0 ? Copy(p, ")") : p;
}

}  // namespace

char* LinRecordText(char* p, const CaptureRecord& r) {
  p = Copy(p, "L");
  *p++ = static_cast<char>('0' + ChannelNumber(r));
  p = Copy(p, " LIN ");
  const char* type = FrameTypeText(r);
  p = Copy(p, *type != '\0' ? type : "BYTES");
  if (const char letter = StatusLetter(r); letter != 0) {
    p = Copy(p, " status ");
    *p++ = letter;
  }
  p = ErrorClasses(p, LinErrorFlags(r));
  const LinHeader header = LinHeaderShape(r);
  if (header != LinHeader::None) {
    p = Hex2(Copy(p, " SB "), LinSb(r));
    if (header != LinHeader::Sb) p = Hex2(Copy(p, " SF "), LinSf(r));
    if (header == LinHeader::Full) p = Hex2(Copy(p, " PID "), LinProtectedId(r));
  }
  if (r.count() > 0) {
    p = HexBytes(Copy(p, " data"), r.data(), LinDataCount(r));
    if (LinFrameChecksumIndex(r) >= 0) p = Hex2(Copy(p, " checksum "), LinFrameChecksum(r));
  }
  return p;
}

char* MarkerText(char* p, const CaptureRecord& r) {
  return Copy(p, r.source() == kSourceOverrun ? "overrun: records were lost here"
                                              : "lost data: records were lost here");
}

}  // namespace ksvw::exporting
