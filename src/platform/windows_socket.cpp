#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/socket.h"
#include "platform/windows_support.h"

namespace dovra {
namespace {

SOCKET socketOf(intptr_t native) {
  return static_cast<SOCKET>(native);
}

// Winsock for the whole process, started on first use and never stopped (sockets may be
// closed during static destruction).
bool startWinsock() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

// The errno value for a Winsock error, as the interface reports errors.
int errnoFromWsa(int code) {
  switch (code) {
    case 0:
      return 0;
    case WSAEWOULDBLOCK:
      return EWOULDBLOCK;
    case WSAEINPROGRESS:
    case WSAEALREADY:
      return EINPROGRESS;
    case WSAECONNREFUSED:
      return ECONNREFUSED;
    case WSAETIMEDOUT:
      return ETIMEDOUT;
    case WSAECONNRESET:
      return ECONNRESET;
    case WSAECONNABORTED:
      return ECONNABORTED;
    case WSAESHUTDOWN:
      return EPIPE;
    case WSAENOTCONN:
      return ENOTCONN;
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
      return EHOSTUNREACH;
    case WSAENETUNREACH:
    case WSAENETDOWN:
      return ENETUNREACH;
    case WSAENETRESET:
      return ENETRESET;
    case WSAEADDRINUSE:
      return EADDRINUSE;
    case WSAEADDRNOTAVAIL:
      return EADDRNOTAVAIL;
    case WSAEACCES:
      return EACCES;
    case WSAEMFILE:
      return EMFILE;
    case WSAENOBUFS:
      return ENOBUFS;
    case WSAEINTR:
      return EINTR;
    case WSAEINVAL:
      return EINVAL;
    case WSAENOTSOCK:
    case WSAEBADF:
      return EBADF;
    case WSANOTINITIALISED:
    case WSASYSNOTREADY:
      return ENETDOWN;
    default:
      return EIO;
  }
}

int lastError() {
  return errnoFromWsa(WSAGetLastError());
}

SocketIo ioResult(int n) {
  if (n >= 0) return {static_cast<size_t>(n), 0, false};
  const int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK) return {0, 0, true};
  return {0, errnoFromWsa(err), false};
}

bool setNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

}  // namespace

bool parseIpv4Address(const std::string& text, Ipv4Address& out) {
  // Strictly four decimal parts of at most three digits, each up to 255, as inet_pton
  // reads them (inet_addr would take "1", octal or hexadecimal parts).
  int part = 0;
  size_t i = 0;
  for (; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    const size_t start = i;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    if (i == start || value > 255 || (i - start > 1 && text[start] == '0')) return false;
    out.bytes[part] = static_cast<uint8_t>(value);
  }
  return i == text.size();
}

HostAddresses resolveIpv4(const std::string& host) {
  HostAddresses result;
  if (!startWinsock()) {
    result.error = ENETDOWN;
    result.systemError = true;
    result.errorText = "Network is down";
    return result;
  }
  // An empty name would stand for this machine's own addresses; no host is named.
  if (host.empty()) {
    result.error = WSAHOST_NOT_FOUND;
    result.errorText = win::systemMessage(WSAHOST_NOT_FOUND);
    return result;
  }
  ADDRINFOW hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  const int rc = GetAddrInfoW(win::widen(host).c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    result.error = rc;
    result.errorText = win::systemMessage(static_cast<DWORD>(rc));
    return result;
  }
  for (ADDRINFOW* ai = found; ai; ai = ai->ai_next) {
    sockaddr_in address{};
    std::memcpy(&address, ai->ai_addr, sizeof address);
    Ipv4Address entry;
    std::memcpy(entry.bytes, &address.sin_addr.s_addr, 4);
    result.addresses.push_back(entry);
  }
  FreeAddrInfoW(found);
  return result;
}

// ---- TcpSocket ----

int TcpSocket::open() {
  close();
  if (!startWinsock()) return ENETDOWN;
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return lastError();
  if (!setNonBlocking(s)) {
    const int err = lastError();
    closesocket(s);
    return err;
  }
  native_ = static_cast<intptr_t>(s);
  return 0;
}

int TcpSocket::startConnect(const Ipv4Address& address, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<u_short>(port));
  std::memcpy(&target.sin_addr.s_addr, address.bytes, 4);
  if (::connect(socketOf(native_), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
      0) {
    return 0;
  }
  const int err = WSAGetLastError();
  return err == WSAEWOULDBLOCK ? EINPROGRESS : errnoFromWsa(err);
}

int TcpSocket::connectResult() const {
  int err = 0;
  int len = sizeof err;
  if (getsockopt(socketOf(native_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) !=
      0) {
    return lastError();
  }
  return errnoFromWsa(err);
}

void TcpSocket::disableDelay() {
  const BOOL one = TRUE;
  setsockopt(socketOf(native_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
             sizeof one);
}

int systemSocketErrorNumber(int error) {
  static constexpr int kWinsock[] = {
      WSAEWOULDBLOCK,  WSAEINPROGRESS, WSAECONNREFUSED,  WSAETIMEDOUT,    WSAECONNRESET,
      WSAECONNABORTED, WSAESHUTDOWN,   WSAENOTCONN,      WSAEHOSTUNREACH, WSAENETUNREACH,
      WSAENETRESET,    WSAEADDRINUSE,  WSAEADDRNOTAVAIL, WSAEACCES,       WSAEMFILE,
      WSAENOBUFS,      WSAEINTR,       WSAEINVAL,        WSAENOTSOCK};
  for (int code : kWinsock) {
    if (errnoFromWsa(code) == error) return code;
  }
  return error;
}

std::string TcpSocket::peerAddressText() const {
  sockaddr_in peer{};
  int len = sizeof peer;
  if (getpeername(socketOf(native_), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return {};
  const auto* b = reinterpret_cast<const unsigned char*>(&peer.sin_addr.s_addr);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
         std::to_string(b[3]);
}

// Windows raises no signal for a send on a closed connection; the send fails instead.
SocketIo TcpSocket::send(const void* data, size_t count) {
  const int chunk = static_cast<int>(std::min<size_t>(count, 1u << 30));
  return ioResult(::send(socketOf(native_), static_cast<const char*>(data), chunk, 0));
}

SocketIo TcpSocket::receive(void* buffer, size_t count) {
  const int chunk = static_cast<int>(std::min<size_t>(count, 1u << 30));
  return ioResult(::recv(socketOf(native_), static_cast<char*>(buffer), chunk, 0));
}

void TcpSocket::shutdownBoth() {
  if (native_ != kClosed) ::shutdown(socketOf(native_), SD_BOTH);
}

void TcpSocket::close() {
  if (native_ != kClosed) closesocket(socketOf(std::exchange(native_, kClosed)));
}

// ---- CancellableWait ----
//
// The cancellation is a datagram that a loopback UDP socket sends to itself: select() then
// sees it readable beside the socket waited for, and the datagram stays until clear()
// reads it.

CancellableWait::~CancellableWait() {
  if (native_ >= 0) closesocket(socketOf(native_));
}

int CancellableWait::open() {
  if (!startWinsock()) return ENETDOWN;
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return lastError();
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  self.sin_port = 0;
  int len = sizeof self;
  if (bind(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&self), &len) != 0 ||
      ::connect(s, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
      !setNonBlocking(s)) {
    const int err = lastError();
    closesocket(s);
    return err;
  }
  native_ = static_cast<intptr_t>(s);
  return 0;
}

CancellableWait::Result CancellableWait::wait(const TcpSocket& socket, SocketDirection direction,
                                              int timeoutMs) {
  const SOCKET waited = socketOf(socket.native());
  const SOCKET wake = socketOf(native_);
  fd_set readable, writable, failed;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(wake, &readable);
  if (direction == SocketDirection::readable) {
    FD_SET(waited, &readable);
  } else {
    FD_SET(waited, &writable);
  }
  // A connect that fails is reported as an exception, not as writable.
  FD_SET(waited, &failed);
  timeval limit{};
  limit.tv_sec = timeoutMs / 1000;
  limit.tv_usec = timeoutMs % 1000 * 1000;
  const int n = select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
  if (n == SOCKET_ERROR) {
    const int err = WSAGetLastError();
    if (err == WSAEINTR) return {Outcome::nothing, 0};
    return {Outcome::failed, errnoFromWsa(err)};
  }
  if (FD_ISSET(wake, &readable)) return {Outcome::cancelled, 0};
  if (n > 0) return {Outcome::ready, 0};
  return {Outcome::nothing, 0};
}

void CancellableWait::cancel() {
  const char one = 1;
  ::send(socketOf(native_), &one, 1, 0);
}

void CancellableWait::clear() {
  char buffer[64];
  while (::recv(socketOf(native_), buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace dovra
