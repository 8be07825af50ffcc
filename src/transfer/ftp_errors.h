// Failures of the FTP client session. Every one carries the text the callers log after
// their own prefix; the texts are the session's own and are kept exactly.
#pragma once

#include <string>
#include <vector>

#include "platform/error.h"

namespace dovra {

// Base of every failure raised by TIdFTP.
class EIdException : public Exception {
 public:
  using Exception::Exception;
};

// The server answered with a code outside the accepted set, or reported a failed
// transfer (426, 450). The message is the reply's text lines, each followed by CR LF.
class EIdProtocolReplyError : public EIdException {
 public:
  EIdProtocolReplyError(int code, const std::vector<std::string>& textLines);
  int errorCode() const { return code_; }

 private:
  int code_;
};

// A system call on a socket failed: "Socket Error # <errno>\r\n<system text>."; name
// resolution failures carry the resolver's code and text the same way.
class EIdSocketError : public EIdException {
 public:
  // `shownNumber` is the number the message gives, when it differs from `lastError` (the
  // system's own number for an errno value; -1: `lastError` itself).
  EIdSocketError(int lastError, const std::string& systemText, int shownNumber = -1);
  int lastError() const { return lastError_; }
  // Builds the error for an errno value with the system's text.
  static EIdSocketError fromErrno(int err);

 private:
  int lastError_;
};

// "Connect timed out.": the TCP connection was not made within the caller's limit.
class EIdConnectTimeout : public EIdException {
 public:
  EIdConnectTimeout();
};

// "Read timed out.": no reply, data or data connection within ReadTimeout.
class EIdReadTimeout : public EIdException {
 public:
  EIdReadTimeout();
};

// "Connection Closed Gracefully.": the server closed the control connection.
class EIdConnClosedGracefully : public EIdException {
 public:
  EIdConnClosedGracefully();
};

// "Already connected.": OpenSession on an open session.
class EIdAlreadyConnected : public EIdException {
 public:
  EIdAlreadyConnected();
};

// "Not Connected": a command on a closed session (also what an operation fails with when
// another thread closed the session under it).
class EIdNotConnected : public EIdException {
 public:
  EIdNotConnected();
};

// "No data to read.": the upload stream yielded nothing before its end.
class EIdNoDataToRead : public EIdException {
 public:
  EIdNoDataToRead();
};

// "Destination file already exists.": DownloadFile's target exists.
class EIdFTPFileAlreadyExists : public EIdException {
 public:
  EIdFTPFileAlreadyExists();
};

// "Max line length exceeded.": a reply line longer than MaxLineLength.
class EIdReadLnMaxLineLengthExceeded : public EIdException {
 public:
  EIdReadLnMaxLineLengthExceeded();
};

// "Transfer aborted.": Abort() stopped the transfer in progress.
class EIdTransferAborted : public EIdException {
 public:
  EIdTransferAborted();
};

}  // namespace dovra
