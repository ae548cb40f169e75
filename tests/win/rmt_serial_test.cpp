// The library over a serial port: Wine's COM ports mapped by the test
// driver to the simulator's pseudo-terminals, one at full speed and one
// paced like a 230400 bit/s line.
#include <gtest/gtest.h>

#include "tests/win/rmt_fixture.h"

namespace ksvw::rmttest {
namespace {

using RemoteSerial = RemoteTest;

TEST_F(RemoteSerial, DownloadOverAComPortThenItOpensAgain) {
  for (const char* line : {"KSVW_SIM_COM", "KSVW_SIM_SLOW_COM"}) {
    std::string com = PortOf(line);
    // Even parity and RTS/CTS: the pseudo-terminal takes any line settings.
    ASSERT_EQ(Connect(SerialSettings(com, 230400, 2, 1)), kOk) << line;
    DownloadMatches(std::string(line) + ".DT", Env((std::string(line) + "_CAPTURE").c_str()));
    EXPECT_EQ(Disconnect(), kOk);
    EXPECT_EQ(device_->Close(), kOk);
    // The port opens again for the next connect.
    ASSERT_EQ(device_->Open(), kOk);
    EXPECT_EQ(Run(kRequestConnect), kOk);
    EXPECT_EQ(Disconnect(), kOk);
    EXPECT_EQ(device_->Close(), kOk);
  }
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 0);
}

TEST_F(RemoteSerial, SilentLineIsALostLink) {
  std::string com = PortOf("KSVW_SIM_MUTE_COM");
  // The analyzer falls silent partway through the download (a serial line
  // cannot hang up): the link is lost after its silence limit, once, and
  // the program's sink closes the device from the callback.
  ASSERT_EQ(Connect(SerialSettings(com, 230400)), kOk);
  sink_.onEvent = [&](SinkEvent::Kind kind, RemoteRequest*) {
    if (kind == SinkEvent::LinkLost) {
      EXPECT_EQ(device_->Close(), kOk);
    }
  };
  EXPECT_EQ(Download("com_mute.DT", kWaitMs), kErrNotConnected);
  Sleep(300);
  EXPECT_EQ(sink_.Count(SinkEvent::LinkLost), 1);
  EXPECT_EQ(device_->GetLinkState(), 0);
}

}  // namespace
}  // namespace ksvw::rmttest
