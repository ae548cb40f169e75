// The library over a serial port: Wine's COM ports mapped by the test
// driver to the simulator's pseudo-terminals, one at full speed and one
// paced like a 230400 bit/s line.
#include <gtest/gtest.h>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

using RemoteSerial = RemoteTest;

void DownloadOver(TestSink& sink, RemoteDevice* device, const char* comVariable,
                  const char* captureVariable, const char* out) {
  std::string com = Env(comVariable);
  std::string capture = Env(captureVariable);
  ASSERT_FALSE(com.empty()) << comVariable << " is not set (run the tests through their driver)";
  // Even parity and RTS/CTS: the pseudo-terminal takes any line settings.
  ConnectionSettings s = SerialSettings(com, 230400, 2, 1);
  ASSERT_EQ(device->Configure(&s), kOk);
  ASSERT_EQ(device->Open(), kOk);
  RemoteRequest* r = nullptr;
  ASSERT_EQ(device->CreateRequest(&r), kOk);
  r->requestType = kRequestConnect;
  sink.Watch(r);
  ASSERT_EQ(device->Submit(r), kOk);
  EXPECT_EQ(sink.WaitDone(r, kWaitMs), kOk);
  r->Release();
  ASSERT_EQ(device->GetLinkState(), 1);

  ASSERT_EQ(sink.StartDownload(device, out), kOk);
  ASSERT_EQ(sink.WaitDownload(kDownloadWaitMs), kOk);
  std::vector<uint8_t> got = ReadWholeFile(out), want = ReadWholeFile(capture);
  ASSERT_FALSE(want.empty()) << capture;
  ASSERT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want) << out << " differs from " << capture;

  ASSERT_EQ(device->CreateRequest(&r), kOk);
  r->requestType = kRequestDisconnect;
  sink.Watch(r);
  ASSERT_EQ(device->Submit(r), kOk);
  EXPECT_EQ(sink.WaitDone(r, kWaitMs), kOk);
  r->Release();
  EXPECT_EQ(device->Close(), kOk);

  // The port opens again for the next connect.
  ASSERT_EQ(device->Open(), kOk);
  ASSERT_EQ(device->CreateRequest(&r), kOk);
  r->requestType = kRequestConnect;
  sink.Watch(r);
  ASSERT_EQ(device->Submit(r), kOk);
  EXPECT_EQ(sink.WaitDone(r, kWaitMs), kOk);
  r->requestType = kRequestDisconnect;
  sink.Watch(r);
  ASSERT_EQ(device->Submit(r), kOk);
  EXPECT_EQ(sink.WaitDone(r, kWaitMs), kOk);
  r->Release();
  EXPECT_EQ(device->Close(), kOk);
  EXPECT_EQ(sink.Count(SinkEvent::LinkLost), 0);
}

TEST_F(RemoteSerial, DownloadOverAComPort) {
  DownloadOver(sink_, device_, "KSVW_SIM_COM", "KSVW_SIM_COM_CAPTURE", "com_download.DT");
}

TEST_F(RemoteSerial, DownloadOverAComPortAtLineRate) {
  DownloadOver(sink_, device_, "KSVW_SIM_SLOW_COM", "KSVW_SIM_SLOW_COM_CAPTURE",
               "com_slow_download.DT");
}

TEST_F(RemoteSerial, SilentLineIsALostLink) {
  std::string com = Env("KSVW_SIM_MUTE_COM");
  ASSERT_FALSE(com.empty()) << "KSVW_SIM_MUTE_COM is not set (run the tests through their driver)";
  // The analyzer falls silent partway through the download (a serial line
  // cannot hang up): the link is lost after its silence limit.
  ASSERT_EQ(Connect(SerialSettings(com, 230400)), kOk);
  sink_.onLinkLost = [&] { device_->Close(); };
  ASSERT_EQ(sink_.StartDownload(device_, "com_mute.DT"), kOk);
  int32_t result = sink_.WaitDownload(kWaitMs);
  EXPECT_EQ(result, kErrNotConnected);
  Sleep(300);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 1);
  EXPECT_EQ(device_->GetLinkState(), 0);
}

TEST_F(RemoteSerial, MissingPortIsReportedOnConnect) {
  // COM9 is mapped to nothing in the test prefix.
  int32_t result = Connect(SerialSettings("COM9", 115200));
  EXPECT_LT(result, 0);
  EXPECT_EQ(result & 0xFFFF0000, static_cast<int32_t>(0x80070000u));  // a system error
  EXPECT_EQ(device_->GetLinkState(), 0);
}

}  // namespace
}  // namespace ksvw::rmttest
