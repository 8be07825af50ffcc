// The FTP reply record and the pure parsing rules of the client session: how reply lines
// make up a reply, how a PASV reply names the data address, how a SIZE reply gives a size.
// Nothing here touches a socket; every function is safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dovra {

// The last reply received on a session.
struct FtpReply {
  int numericCode = 0;            // 0 when the reply does not start with a number
  std::string textCode;           // the first three characters of the first line
  std::vector<std::string> text;  // each line from its fifth character on
};

// Code of a reply's first line: its first four characters, trimmed, less a trailing "-",
// read as a decimal number; 0 when they are not one.
int parseReplyCode(std::string_view firstLine);

// Builds one reply from its lines as they arrive (each already trimmed and non-empty).
class FtpReplyAssembler {
 public:
  // Adds a line; true when the reply is complete. A first line whose fourth character is
  // "-" opens a multi-line reply, which ends at a line starting with its code and a blank
  // (or at a line shorter than four characters).
  bool addLine(const std::string& line);
  const FtpReply& reply() const { return reply_; }

 private:
  FtpReply reply_;
  std::string endMarker_;
  bool started_ = false;
};

// A data address as a PASV reply gives it.
struct PasvAddress {
  uint8_t host[4] = {0, 0, 0, 0};
  uint16_t port = 0;
  std::string hostText() const;  // dotted quad
};

// Reads a PASV reply's first text line: the six numbers between "(" and ")", or, without
// both parentheses, after the last blank. Empty when the line does not hold six numbers
// from 0 to 255.
std::optional<PasvAddress> parsePasvText(std::string_view textLine);

// The host the data connection goes to. A server behind address translation often names
// an address the client cannot reach: the unspecified address 0.0.0.0, a multicast or
// reserved one, or a private, loopback or link-local address while the control
// connection's peer is a public one. In those cases the control connection's peer
// address is used instead; otherwise the PASV address as given. Both are dotted quads.
std::string chooseDataHost(const PasvAddress& pasv, const std::string& controlPeerHost);

// The size a SIZE reply gives: for code 213 the joined text lines, trimmed, after the
// first blank if there is one, read as a decimal number; -1 for any other code or text.
int64_t parseSizeReply(const FtpReply& reply);

// The size a transfer's preliminary reply announces as "(N bytes)", as many servers do;
// empty when it announces none.
std::optional<int64_t> announcedTransferSize(const FtpReply& preliminary);

}  // namespace dovra
