// Fixture of the library's tests: one device with a TestSink, settings for
// the simulators the test driver started (their ports, COM ports and
// captures come in environment variables), and request helpers.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "remote/ksvwrmt.h"
#include "tests/win/test_sink.h"

namespace ksvw::rmttest {

inline constexpr DWORD kWaitMs = 10000;
inline constexpr DWORD kDownloadWaitMs = 120000;

// An environment variable ("" when unset).
inline std::string Env(const char* name) {
  char buf[1024];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

inline ConnectionSettings LanSettings(const std::string& host, const std::string& port,
                                      const std::string& ctport = "") {
  ConnectionSettings s;
  std::memset(&s, 0, sizeof s);
  s.size = kConnectionSettingsSize;
  s.method = kMethodLan;
  std::strncpy(s.host, host.c_str(), sizeof s.host - 1);
  std::strncpy(s.port, port.c_str(), sizeof s.port - 1);
  std::strncpy(s.ctport, ctport.c_str(), sizeof s.ctport - 1);
  s.speed = 115200;
  return s;
}

inline ConnectionSettings SerialSettings(const std::string& com, int32_t speed, int32_t parity = 0,
                                         int32_t flow = 0) {
  ConnectionSettings s;
  std::memset(&s, 0, sizeof s);
  s.size = kConnectionSettingsSize;
  s.method = kMethodSerial;
  std::strncpy(s.com, com.c_str(), sizeof s.com - 1);
  s.speed = speed;
  s.parity = parity;
  s.flow = flow;
  return s;
}

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(KSCreateRemote(&device_), kOk);
    ASSERT_NE(device_, nullptr);
    sink_.Attach(device_);
    ASSERT_EQ(device_->Advise(&sink_), kOk);
  }
  void TearDown() override {
    if (device_) {
      device_->Close();
      device_->Release();  // no sink call may follow this
      device_ = nullptr;
    }
  }

  // Submits a request of `type`; the test keeps the returned reference.
  RemoteRequest* Submit(int32_t type, int32_t dataCode = 0, int32_t sectionLimit = 0) {
    RemoteRequest* r = nullptr;
    EXPECT_EQ(device_->CreateRequest(&r), kOk);
    if (!r) return nullptr;
    r->requestType = type;
    r->dataCode = dataCode;
    r->sectionLimit = sectionLimit;
    sink_.Watch(r);
    EXPECT_EQ(device_->Submit(r), kOk);
    return r;
  }
  // Submits a request and waits for its end: its result (0x7FFFFFFF when it
  // did not end in time).
  int32_t Run(int32_t type, int32_t dataCode = 0, int32_t sectionLimit = 0,
              DWORD waitMs = kWaitMs) {
    RemoteRequest* r = Submit(type, dataCode, sectionLimit);
    if (!r) return 0x7FFFFFFF;
    int32_t result = sink_.WaitDone(r, waitMs);
    r->Release();
    return result;
  }

  // Configure, Open and a connect request, as the program connects.
  int32_t Connect(const ConnectionSettings& s, DWORD waitMs = kWaitMs) {
    EXPECT_EQ(device_->Configure(&s), kOk);
    EXPECT_EQ(device_->Open(), kOk);
    return Run(kRequestConnect, 0, 0, waitMs);
  }
  int32_t Disconnect() { return Run(kRequestDisconnect); }

  // Downloads into `path` as the program does and compares with `capture`.
  void DownloadMatches(const std::string& path, const std::string& capture) {
    ASSERT_EQ(sink_.StartDownload(device_, path), kOk);
    ASSERT_EQ(sink_.WaitDownload(kDownloadWaitMs), kOk);
    EXPECT_EQ(sink_.SectionResults(), (std::vector<int32_t>{0, 0, 0, 0}));
    std::vector<uint8_t> got = ReadWholeFile(path), want = ReadWholeFile(capture);
    ASSERT_FALSE(want.empty()) << capture << " cannot be read";
    EXPECT_TRUE(got == want) << path << " differs from " << capture;
  }

  // The simulator on the environment's port variable, or skip.
  std::string PortOf(const char* variable) {
    std::string port = Env(variable);
    if (port.empty())
      ADD_FAILURE() << variable << " is not set (run the tests through their driver)";
    return port;
  }

  RemoteDevice* device_ = nullptr;
  TestSink sink_;
};

}  // namespace ksvw::rmttest
