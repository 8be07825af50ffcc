#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/error.h"
#include "platform/socket.h"

namespace dovra {
namespace {

int descriptor(intptr_t native) {
  return static_cast<int>(native);
}

SocketIo ioResult(ssize_t n) {
  if (n >= 0) return {static_cast<size_t>(n), 0, false};
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, 0, true};
  return {0, errno, false};
}

}  // namespace

int systemSocketErrorNumber(int error) {
  return error;
}

bool parseIpv4Address(const std::string& text, Ipv4Address& out) {
  in_addr address{};
  if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
  std::memcpy(out.bytes, &address.s_addr, 4);
  return true;
}

HostAddresses resolveIpv4(const std::string& host) {
  HostAddresses result;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    if (rc == EAI_SYSTEM) {
      result.error = errno;
      result.systemError = true;
      result.errorText = systemErrorText(result.error);
    } else {
      result.error = rc;
      result.errorText = ::gai_strerror(rc);
    }
    return result;
  }
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    sockaddr_in address{};
    std::memcpy(&address, ai->ai_addr, sizeof address);
    Ipv4Address entry;
    std::memcpy(entry.bytes, &address.sin_addr.s_addr, 4);
    result.addresses.push_back(entry);
  }
  ::freeaddrinfo(found);
  return result;
}

// ---- TcpSocket ----

int TcpSocket::open() {
  close();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  native_ = fd;
  return 0;
}

int TcpSocket::startConnect(const Ipv4Address& address, int port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  std::memcpy(&target.sin_addr.s_addr, address.bytes, 4);
  if (::connect(descriptor(native_), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
      0) {
    return 0;
  }
  // An interrupted connect goes on in the background, as one under way does.
  return errno == EINTR ? EINPROGRESS : errno;
}

int TcpSocket::connectResult() const {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(descriptor(native_), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void TcpSocket::disableDelay() {
  const int one = 1;
  ::setsockopt(descriptor(native_), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

std::string TcpSocket::peerAddressText() const {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  char text[INET_ADDRSTRLEN] = "";
  if (::getpeername(descriptor(native_), reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  }
  return text;
}

SocketIo TcpSocket::send(const void* data, size_t count) {
  for (;;) {
    const ssize_t n = ::send(descriptor(native_), data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    return ioResult(n);
  }
}

SocketIo TcpSocket::receive(void* buffer, size_t count) {
  for (;;) {
    const ssize_t n = ::recv(descriptor(native_), buffer, count, 0);
    if (n < 0 && errno == EINTR) continue;
    return ioResult(n);
  }
}

void TcpSocket::shutdownBoth() {
  if (native_ != kClosed) ::shutdown(descriptor(native_), SHUT_RDWR);
}

void TcpSocket::close() {
  if (native_ != kClosed) ::close(descriptor(std::exchange(native_, kClosed)));
}

// ---- CancellableWait ----

CancellableWait::~CancellableWait() {
  if (native_ >= 0) ::close(descriptor(native_));
}

int CancellableWait::open() {
  const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return errno;
  native_ = fd;
  return 0;
}

CancellableWait::Result CancellableWait::wait(const TcpSocket& socket, SocketDirection direction,
                                              int timeoutMs) {
  const short events = direction == SocketDirection::readable ? POLLIN : POLLOUT;
  pollfd fds[2] = {{descriptor(socket.native()), events, 0}, {descriptor(native_), POLLIN, 0}};
  const int n = ::poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
  if (n < 0) {
    if (errno == EINTR) return {Outcome::nothing, 0};
    return {Outcome::failed, errno};
  }
  if (fds[1].revents) return {Outcome::cancelled, 0};
  if (n > 0) return {Outcome::ready, 0};
  return {Outcome::nothing, 0};
}

void CancellableWait::cancel() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(descriptor(native_), &one, sizeof one);
}

void CancellableWait::clear() {
  uint64_t count;
  while (::read(descriptor(native_), &count, sizeof count) > 0) {
  }
}

}  // namespace dovra
