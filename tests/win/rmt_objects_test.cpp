// The library's objects without a link: exports, request layout, argument
// checks, and what an unopened device answers.
#include <gtest/gtest.h>

#include <cstddef>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

// Every test first, then KSUninitializeRemote once all devices are gone: it
// must find every library thread ended.
class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(KSInitializeRemote(), kOk); }
  void TearDown() override { EXPECT_EQ(KSUninitializeRemote(), kOk); }
};
const auto* const libraryEnvironment = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

using RemoteObjects = RemoteTest;

TEST_F(RemoteObjects, RequestLayoutArgumentChecksAndReferences) {
  RemoteRequest* r = nullptr;
  ASSERT_EQ(device_->CreateRequest(&r), kOk);
  ASSERT_NE(r, nullptr);
  auto* base = reinterpret_cast<const char*>(r);
  const int32_t* fields[] = {&r->requestType, &r->result,   &r->fileHandle,
                             &r->dataCode,    &r->reserved, &r->sectionLimit};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(reinterpret_cast<const char*>(fields[i]) - base, 8 + 4 * i);
    EXPECT_EQ(*fields[i], 0) << i;
  }
  EXPECT_EQ(r->AddRef(), 2u);
  EXPECT_EQ(r->Release(), 1u);
  EXPECT_EQ(r->Release(), 0u);

  EXPECT_EQ(KSCreateRemote(nullptr), kErrPointer);
  EXPECT_EQ(device_->CreateRequest(nullptr), kErrPointer);
  EXPECT_EQ(device_->Configure(nullptr), kErrPointer);
  ConnectionSettings s = LanSettings("127.0.0.1", "1");
  s.size = 1395;  // only the whole record
  EXPECT_EQ(device_->Configure(&s), kErrInvalidArg);
  s.size = kConnectionSettingsSize;
  EXPECT_EQ(device_->Configure(&s), kOk);
  EXPECT_EQ(device_->Reserved5(), static_cast<int32_t>(0x80004001u));  // not implemented
  EXPECT_EQ(device_->Reserved12(), static_cast<int32_t>(0x80004001u));
  EXPECT_EQ(device_->AddRef(), 2u);
  EXPECT_EQ(device_->AddRef(), 3u);
  EXPECT_EQ(device_->Release(), 2u);
  EXPECT_EQ(device_->Release(), 1u);
}

TEST_F(RemoteObjects, OpenRefusesSettingsItCannotUse) {
  ConnectionSettings bad[] = {
      LanSettings("", "4000"),                   // no host (no port: the program's AtOnce)
      LanSettings("127.0.0.1", "65536"),         // out of range
      LanSettings("127.0.0.1", "40x0"),          // not a number
      LanSettings("127.0.0.1", "4000", "port"),  // a control port that is no number
      SerialSettings("", 115200),                // no port name
      SerialSettings("COM5", 0),                 // no bit rate
  };
  for (const auto& s : bad) {
    ASSERT_EQ(device_->Configure(&s), kOk);
    EXPECT_EQ(device_->Open(), kErrInvalidArg) << s.host << ":" << s.port << " " << s.com;
  }
  ConnectionSettings other = LanSettings("127.0.0.1", "4000");
  other.method = 1;
  ASSERT_EQ(device_->Configure(&other), kOk);
  EXPECT_EQ(device_->Open(), kErrInvalidArg);
}

// Unopened, a device takes no request and shows a blank screen; opened (no
// link yet), it refuses request types outside the four and a transfer
// without a limit.
TEST_F(RemoteObjects, SubmitRefusals) {
  RemoteRequest* r = nullptr;
  ASSERT_EQ(device_->CreateRequest(&r), kOk);
  r->requestType = kRequestConnect;
  EXPECT_EQ(device_->Submit(r), kErrNotConnected);
  EXPECT_EQ(device_->Submit(nullptr), kErrPointer);
  EXPECT_EQ(device_->Cancel(r), 1);  // not running
  EXPECT_EQ(device_->Cancel(nullptr), kErrPointer);
  EXPECT_EQ(device_->Close(), 1);  // not open
  EXPECT_EQ(device_->GetLinkState(), 0);
  EXPECT_EQ(device_->GetStatusFlags(), 0u);
  uint8_t screen[kScreenBytes + 8];
  std::memset(screen, 0xAA, sizeof screen);
  EXPECT_EQ(device_->CopyScreen(screen, sizeof screen), kOk);
  for (uint8_t b : screen) ASSERT_EQ(b, 0);
  EXPECT_EQ(device_->CopyScreen(nullptr, kScreenBytes), kErrPointer);

  ConnectionSettings s = LanSettings("127.0.0.1", "9");
  ASSERT_EQ(device_->Configure(&s), kOk);
  ASSERT_EQ(device_->Open(), kOk);
  EXPECT_EQ(device_->Open(), 1);  // already open
  for (int32_t type : {0, 4, 6, -1}) {
    r->requestType = type;
    EXPECT_EQ(device_->Submit(r), kErrInvalidArg) << type;
  }
  r->requestType = kRequestTransfer;
  r->dataCode = 0x8100;
  EXPECT_EQ(device_->Submit(r), kErrInvalidArg);  // sectionLimit 0
  r->Release();
  EXPECT_EQ(device_->Close(), kOk);
  EXPECT_EQ(sink_.Count(SinkEvent::Done), 0);
}

}  // namespace
}  // namespace ksvw::rmttest
