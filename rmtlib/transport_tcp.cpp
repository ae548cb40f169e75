// TCP to the LAN converter. The data connection carries the link protocol;
// the control connection (ctport, when set) carries nothing: it is opened
// with the data connection and held for the life of the link, as the
// converter's sign that a host owns its port. Anything the converter sends
// on it is read and dropped; the converter closing it ends the link like
// the data connection closing.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "remote/ksvwrmt.h"
#include "rmtlib/transport.h"

namespace ksvw::rmt {
namespace {

// Bytes of the control connection read and dropped per pass of the I/O loop.
constexpr size_t kControlDrainBytes = 64 * 1024;

int32_t SocketError(int e) {
  return ResultFromSystemError(static_cast<uint32_t>(e));
}

class TcpTransport final : public Transport {
 public:
  TcpTransport() = default;
  ~TcpTransport() override {
    Drop(data_, dataEvent_);
    Drop(control_, controlEvent_);
    if (winsock_) WSACleanup();
  }

  int32_t Open(const ConnectionSettings& s, HANDLE wake, const std::atomic<bool>& stop);
  int32_t Receive(uint8_t* buffer, size_t capacity, size_t* got, uint32_t waitMs,
                  HANDLE wake) override;
  int32_t Send(const uint8_t* data, size_t size, size_t* sent) override;
  bool Serial() const override { return false; }

 private:
  static void Drop(SOCKET& s, WSAEVENT& e) {
    if (s != INVALID_SOCKET) closesocket(s);
    if (e != WSA_INVALID_EVENT) WSACloseEvent(e);
    s = INVALID_SOCKET;
    e = WSA_INVALID_EVENT;
  }
  int32_t Connect(const std::string& host, const char* port, HANDLE wake,
                  const std::atomic<bool>& stop, SOCKET* out, WSAEVENT* event);
  int32_t ConnectOne(const addrinfo* ai, HANDLE wake, const std::atomic<bool>& stop, SOCKET* out,
                     WSAEVENT* event);
  int32_t DrainControl();

  bool winsock_ = false;
  SOCKET data_ = INVALID_SOCKET;
  WSAEVENT dataEvent_ = WSA_INVALID_EVENT;
  SOCKET control_ = INVALID_SOCKET;
  WSAEVENT controlEvent_ = WSA_INVALID_EVENT;
  bool peerClosed_ = false;  // FD_CLOSE seen: read what is left, then report
  int32_t closeCode_ = 0;
  bool moreToRead_ = false;  // the last read filled the buffer
};

int32_t TcpTransport::ConnectOne(const addrinfo* ai, HANDLE wake, const std::atomic<bool>& stop,
                                 SOCKET* out, WSAEVENT* event) {
  SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
  if (s == INVALID_SOCKET) return SocketError(WSAGetLastError());
  WSAEVENT e = WSACreateEvent();
  if (e == WSA_INVALID_EVENT) {
    int err = WSAGetLastError();
    closesocket(s);
    return SocketError(err);
  }
  // Event selection makes the socket non-blocking, so the connect can be
  // abandoned when the link is closed meanwhile.
  int32_t result = 0;
  if (WSAEventSelect(s, e, FD_CONNECT) != 0) {
    result = SocketError(WSAGetLastError());
  } else if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) != 0) {
    int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK) {
      result = SocketError(err);
    } else {
      ULONGLONG end = GetTickCount64() + kConnectTimeoutMs;
      for (;;) {
        if (stop.load()) {
          result = kErrCancelled;
          break;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) {
          result = kErrTimeout;
          break;
        }
        HANDLE handles[2] = {e, wake};
        DWORD w =
            WaitForMultipleObjects(wake ? 2 : 1, handles, FALSE, static_cast<DWORD>(end - now));
        if (w != WAIT_OBJECT_0) continue;  // woken, or timed out: look again
        WSANETWORKEVENTS ne{};
        if (WSAEnumNetworkEvents(s, e, &ne) != 0) {
          result = SocketError(WSAGetLastError());
          break;
        }
        if (ne.lNetworkEvents & FD_CONNECT) {
          int code = ne.iErrorCode[FD_CONNECT_BIT];
          result = code ? SocketError(code) : 0;
          break;
        }
      }
    }
  }
  if (result < 0) {
    closesocket(s);
    WSACloseEvent(e);
    return result;
  }
  if (WSAEventSelect(s, e, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    result = SocketError(WSAGetLastError());
    closesocket(s);
    WSACloseEvent(e);
    return result;
  }
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  int buffer = 1 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  *out = s;
  *event = e;
  return 0;
}

int32_t TcpTransport::Connect(const std::string& host, const char* port, HANDLE wake,
                              const std::atomic<bool>& stop, SOCKET* out, WSAEVENT* event) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), port, &hints, &list);
  if (rc != 0) {
    // Whatever the resolver's reason (no such name, no name server
    // reachable), the user's answer is the same: the host was not found.
    return rc == WSA_NOT_ENOUGH_MEMORY ? kErrOutOfMemory : kErrHostNotFound;
  }
  int32_t result = kErrHostNotFound;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    result = ConnectOne(ai, wake, stop, out, event);
    if (result >= 0 || result == kErrCancelled) break;
  }
  freeaddrinfo(list);
  return result;
}

int32_t TcpTransport::Open(const ConnectionSettings& s, HANDLE wake,
                           const std::atomic<bool>& stop) {
  WSADATA wsa;
  int rc = WSAStartup(MAKEWORD(2, 2), &wsa);
  if (rc != 0) return SocketError(rc);
  winsock_ = true;
  std::string host(s.host, strnlen(s.host, sizeof s.host));
  uint16_t port = ParsePort(s.port, sizeof s.port);
  if (host.empty() || port == 0) return kErrInvalidArg;
  uint16_t ctport = ParsePort(s.ctport, sizeof s.ctport);
  if (ctport == 0 && strnlen(s.ctport, sizeof s.ctport) > 0) return kErrInvalidArg;
  int32_t result = Connect(host, std::to_string(port).c_str(), wake, stop, &data_, &dataEvent_);
  if (result < 0) return result;
  if (ctport != 0) {
    result = Connect(host, std::to_string(ctport).c_str(), wake, stop, &control_, &controlEvent_);
  }
  return result;
}

int32_t TcpTransport::DrainControl() {
  WSANETWORKEVENTS ne{};
  WSAEnumNetworkEvents(control_, controlEvent_, &ne);
  // Bounded: a converter that streams on the control connection must not
  // keep the I/O thread here. What is left wakes the next pass (Winsock
  // signals FD_READ again after a recv that leaves data behind).
  char scrap[4096];
  for (size_t drained = 0; drained < kControlDrainBytes;) {
    int n = recv(control_, scrap, sizeof scrap, 0);
    if (n > 0) {
      drained += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return kErrNotConnected;
    int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) break;
    return SocketError(err);
  }
  if (ne.lNetworkEvents & FD_CLOSE) return kErrNotConnected;
  return 0;
}

int32_t TcpTransport::Receive(uint8_t* buffer, size_t capacity, size_t* got, uint32_t waitMs,
                              HANDLE wake) {
  *got = 0;
  if (!moreToRead_ && !peerClosed_) {
    HANDLE handles[3] = {dataEvent_, wake, controlEvent_};
    DWORD count = control_ != INVALID_SOCKET ? 3 : 2;
    if (!wake) {
      handles[1] = controlEvent_;
      count = control_ != INVALID_SOCKET ? 2 : 1;
    }
    WaitForMultipleObjects(count, handles, FALSE, waitMs);
    WSANETWORKEVENTS ne{};
    if (WSAEnumNetworkEvents(data_, dataEvent_, &ne) == 0 && (ne.lNetworkEvents & FD_CLOSE)) {
      peerClosed_ = true;
      int code = ne.iErrorCode[FD_CLOSE_BIT];
      closeCode_ = code ? SocketError(code) : kErrNotConnected;
    }
    if (control_ != INVALID_SOCKET) {
      int32_t r = DrainControl();
      if (r < 0) return r;
    }
  }
  moreToRead_ = false;
  while (*got < capacity) {
    int want = static_cast<int>(std::min<size_t>(capacity - *got, 1 << 30));
    int n = recv(data_, reinterpret_cast<char*>(buffer + *got), want, 0);
    if (n > 0) {
      *got += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return kErrNotConnected;
    int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return peerClosed_ ? closeCode_ : 0;
    return SocketError(err);
  }
  moreToRead_ = true;
  return 0;
}

int32_t TcpTransport::Send(const uint8_t* data, size_t size, size_t* sent) {
  *sent = 0;
  while (*sent < size) {
    int want = static_cast<int>(std::min<size_t>(size - *sent, 1 << 30));
    int n = send(data_, reinterpret_cast<const char*>(data + *sent), want, 0);
    if (n > 0) {
      *sent += static_cast<size_t>(n);
      continue;
    }
    int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) return 0;  // FD_WRITE wakes Receive when there is room
    return SocketError(err);
  }
  return 0;
}

}  // namespace

uint16_t ParsePort(const char* text, size_t capacity) {
  size_t n = strnlen(text, capacity);
  uint32_t v = 0;
  if (n == 0 || n > 5) return 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v = v * 10 + static_cast<uint32_t>(text[i] - '0');
  }
  return v <= 65535 ? static_cast<uint16_t>(v) : 0;
}

int32_t OpenTcp(const ConnectionSettings& settings, HANDLE wake, const std::atomic<bool>& stop,
                std::unique_ptr<Transport>* out) {
  auto t = std::make_unique<TcpTransport>();
  int32_t result = t->Open(settings, wake, stop);
  if (result < 0) return result;
  *out = std::move(t);
  return 0;
}

}  // namespace ksvw::rmt
