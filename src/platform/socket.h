// TCP connections over IPv4 for the FTP client: name resolution, a non-blocking socket
// with a connect that the caller limits in time, sends and receives that never block, and
// a wait for a socket that another thread can cut short.
//
// Failures are returned as errno values (ECONNREFUSED, ETIMEDOUT, ...; an implementation
// on a system with other codes maps them), so the transfer layer reports them in its own
// terms. Nothing here raises a signal: a send on a connection the peer closed fails with
// EPIPE.
//
// Threads. A socket is used by its owner; shutdownBoth() and native() may be called from
// another thread while the owner uses it, as long as the object itself is not closed or
// replaced meanwhile (the caller's lock sees to that). A CancellableWait is waited on by
// one thread; cancel() may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dovra {

struct Ipv4Address {
  uint8_t bytes[4] = {0, 0, 0, 0};
};

// Reads a dotted-decimal IPv4 address ("192.168.0.1"); false for anything else (names,
// IPv6, parts out of range).
bool parseIpv4Address(const std::string& text, Ipv4Address& out);

// The number the system itself gives the socket error `error` (an errno value, as this
// interface reports errors): the same number on POSIX, Winsock's (WSAECONNREFUSED, 10061,
// for ECONNREFUSED) on Windows. For messages; code compares the errno values.
int systemSocketErrorNumber(int error);

// The outcome of resolving a host name: its IPv4 addresses, or the failure. `error` is the
// resolver's own code, or an errno value when `systemError` is set; `errorText` is the
// system's text for it.
struct HostAddresses {
  std::vector<Ipv4Address> addresses;
  int error = 0;
  bool systemError = false;
  std::string errorText;
};

// Resolves `host` (a name or a dotted address) with the system resolver and its own
// limits.
HostAddresses resolveIpv4(const std::string& host);

// What a send or receive did: `bytes` moved; otherwise `wouldBlock` (nothing can move
// now: wait), `error` (an errno value), or, for a receive with neither, the peer's end of
// the stream.
struct SocketIo {
  size_t bytes = 0;
  int error = 0;
  bool wouldBlock = false;
};

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Makes a new non-blocking TCP socket (an open one is closed first), not inherited by
  // started programs. Returns 0 or the errno value.
  int open();
  bool isOpen() const { return native_ != kClosed; }

  // Starts connecting to `address`:`port`. Returns 0 when the connection is made already,
  // EINPROGRESS when it is under way (wait until the socket is writable, then ask
  // connectResult()), or the errno value of the failure.
  int startConnect(const Ipv4Address& address, int port);
  // The result of a connection that was under way once the socket turned writable: 0 when
  // it was made, else the errno value.
  int connectResult() const;
  // Sends without waiting for room in the buffers.
  void disableDelay();
  // The peer's address as dotted text; "" when it is not known.
  std::string peerAddressText() const;

  SocketIo send(const void* data, size_t count);
  SocketIo receive(void* buffer, size_t count);

  // Ends both directions of the connection; a wait, send or receive under way in the
  // owner's thread then returns at once. Nothing happens on a closed socket.
  void shutdownBoth();
  // Closes the socket; nothing happens on a closed one.
  void close();

  // The system's own handle, for the platform layer.
  intptr_t native() const { return native_; }

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t native_ = kClosed;
};

enum class SocketDirection { readable, writable };

// A wait for one socket that another thread can cut short.
class CancellableWait {
 public:
  enum class Outcome {
    ready,      // the socket is readable (or writable), or has an error or hang-up to report
    nothing,    // the time passed, or a signal cut the wait short: wait again if time is left
    cancelled,  // cancel() was called (now or earlier, and not cleared since)
    failed,     // the wait itself failed: see error
  };
  struct Result {
    Outcome outcome = Outcome::nothing;
    int error = 0;
  };

  CancellableWait() = default;
  ~CancellableWait();
  CancellableWait(const CancellableWait&) = delete;
  CancellableWait& operator=(const CancellableWait&) = delete;

  // Makes what cancel() signals through. Returns 0 or the errno value; no other call may
  // be made until it succeeded.
  int open();

  // Waits until `socket` is ready in `direction`, `timeoutMs` milliseconds pass (negative:
  // no limit), or the wait is cancelled. A pending cancellation wins over a ready socket.
  Result wait(const TcpSocket& socket, SocketDirection direction, int timeoutMs);
  // Cancels the wait under way, or the next one when none is: the cancellation stays
  // pending until clear(). Any thread.
  void cancel();
  // Forgets pending cancellations.
  void clear();

 private:
  // The implementation's own state (the event descriptor on POSIX); -1 before open().
  intptr_t native_ = -1;
};

// Ownership moves the same way on every system.
inline TcpSocket::~TcpSocket() {
  close();
}

inline TcpSocket::TcpSocket(TcpSocket&& other) noexcept
    : native_(std::exchange(other.native_, kClosed)) {}

inline TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, kClosed);
  }
  return *this;
}

}  // namespace dovra
