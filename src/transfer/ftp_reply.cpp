#include "transfer/ftp_reply.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <regex>

#include "platform/socket.h"
#include "platform/trim.h"

namespace dovra {

namespace {

std::optional<int64_t> parseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || first == last) return std::nullopt;
  return value;
}

}  // namespace

int parseReplyCode(std::string_view firstLine) {
  std::string head = trimText(firstLine.substr(0, 4));
  if (!head.empty() && head.back() == '-') head.pop_back();
  if (head.empty()) return 0;
  for (char c : head) {
    if (c < '0' || c > '9') return 0;
  }
  int value = 0;
  std::from_chars(head.data(), head.data() + head.size(), value);
  return value;
}

bool FtpReplyAssembler::addLine(const std::string& line) {
  reply_.text.push_back(line.size() > 4 ? line.substr(4) : std::string());
  if (!started_) {
    started_ = true;
    reply_.numericCode = parseReplyCode(line);
    reply_.textCode = line.substr(0, 3);
    if (line.size() > 3 && line[3] == '-') {
      endMarker_ = line.substr(0, 3) + " ";
      return false;
    }
    return true;
  }
  if (line.size() < 4) return true;
  for (size_t i = 0; i < 4; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(endMarker_[i]))) {
      return false;
    }
  }
  return true;
}

std::string PasvAddress::hostText() const {
  return std::to_string(host[0]) + "." + std::to_string(host[1]) + "." + std::to_string(host[2]) +
         "." + std::to_string(host[3]);
}

std::optional<PasvAddress> parsePasvText(std::string_view textLine) {
  std::string line = trimText(textLine);
  std::string_view numbers;
  const size_t open = line.find('(');
  const size_t close = open == std::string::npos ? std::string::npos : line.find(')', open);
  if (open != std::string::npos && close != std::string::npos) {
    numbers = std::string_view(line).substr(open + 1, close - open - 1);
  } else {
    const size_t blank = line.rfind(' ');
    numbers = blank == std::string::npos ? std::string_view(line)
                                         : std::string_view(line).substr(blank + 1);
  }
  std::vector<int> values;
  for (;;) {
    const size_t comma = numbers.find(',');
    const auto field = trimText(numbers.substr(0, comma));
    const auto value = parseDecimal(field);
    if (!value || *value < 0 || *value > 255 || field[0] == '+') return std::nullopt;
    values.push_back(static_cast<int>(*value));
    if (comma == std::string_view::npos) break;
    numbers.remove_prefix(comma + 1);
  }
  if (values.size() != 6) return std::nullopt;
  PasvAddress address;
  for (int i = 0; i < 4; ++i) address.host[i] = static_cast<uint8_t>(values[i]);
  address.port = static_cast<uint16_t>(values[4] * 256 + values[5]);
  return address;
}

namespace {

enum class AddressClass { unusable, loopback, internal, routable };

AddressClass classify(const uint8_t a[4]) {
  if (a[0] == 0 || a[0] >= 224) return AddressClass::unusable;  // 0/8, multicast, reserved
  if (a[0] == 127) return AddressClass::loopback;
  if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
      (a[0] == 169 && a[1] == 254) || (a[0] == 100 && (a[1] & 0xC0) == 64)) {
    return AddressClass::internal;
  }
  return AddressClass::routable;
}

}  // namespace

std::string chooseDataHost(const PasvAddress& pasv, const std::string& controlPeerHost) {
  Ipv4Address peer;
  if (!parseIpv4Address(controlPeerHost, peer)) return pasv.hostText();
  const uint8_t* peerBytes = peer.bytes;
  const AddressClass pasvClass = classify(pasv.host);
  const AddressClass peerClass = classify(peerBytes);
  if (pasvClass == AddressClass::unusable) return controlPeerHost;
  if (pasvClass == AddressClass::loopback && peerClass != AddressClass::loopback) {
    return controlPeerHost;
  }
  if (pasvClass == AddressClass::internal && peerClass == AddressClass::routable) {
    return controlPeerHost;
  }
  return pasv.hostText();
}

int64_t parseSizeReply(const FtpReply& reply) {
  if (reply.numericCode != 213) return -1;
  std::string joined;
  for (size_t i = 0; i < reply.text.size(); ++i) {
    if (i) joined += "\r\n";
    joined += reply.text[i];
  }
  std::string text = trimText(joined);
  const size_t blank = text.find(' ');
  if (blank != std::string::npos) text.erase(0, blank + 1);
  const auto value = parseDecimal(text);
  return value ? *value : -1;
}

std::optional<int64_t> announcedTransferSize(const FtpReply& preliminary) {
  static const std::regex pattern(R"(\((\d{1,18}) bytes\))", std::regex::icase);
  for (const auto& line : preliminary.text) {
    std::smatch match;
    if (std::regex_search(line, match, pattern)) return parseDecimal(match[1].str());
  }
  return std::nullopt;
}

}  // namespace dovra
