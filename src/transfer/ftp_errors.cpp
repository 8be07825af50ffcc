#include "transfer/ftp_errors.h"

#include "platform/socket.h"

namespace dovra {

namespace {

std::string joinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

}  // namespace

EIdProtocolReplyError::EIdProtocolReplyError(int code, const std::vector<std::string>& textLines)
    : EIdException(joinLines(textLines)), code_(code) {}

EIdSocketError::EIdSocketError(int lastError, const std::string& systemText, int shownNumber)
    : EIdException("Socket Error # " + std::to_string(shownNumber < 0 ? lastError : shownNumber) +
                   "\r\n" + systemText),
      lastError_(lastError) {}

EIdSocketError EIdSocketError::fromErrno(int err) {
  std::string text = systemErrorText(err);
  if (text.empty() || text.back() != '.') text += '.';
  return EIdSocketError(err, text, systemSocketErrorNumber(err));
}

EIdConnectTimeout::EIdConnectTimeout() : EIdException("Connect timed out.") {}
EIdReadTimeout::EIdReadTimeout() : EIdException("Read timed out.") {}
EIdConnClosedGracefully::EIdConnClosedGracefully()
    : EIdException("Connection Closed Gracefully.") {}
EIdAlreadyConnected::EIdAlreadyConnected() : EIdException("Already connected.") {}
EIdNotConnected::EIdNotConnected() : EIdException("Not Connected") {}
EIdNoDataToRead::EIdNoDataToRead() : EIdException("No data to read.") {}
EIdFTPFileAlreadyExists::EIdFTPFileAlreadyExists()
    : EIdException("Destination file already exists.") {}
EIdReadLnMaxLineLengthExceeded::EIdReadLnMaxLineLengthExceeded()
    : EIdException("Max line length exceeded.") {}
EIdTransferAborted::EIdTransferAborted() : EIdException("Transfer aborted.") {}

}  // namespace dovra
