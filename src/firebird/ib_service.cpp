#include "firebird/ib_service.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "firebird/block_bytes.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

// Service parameter names the client library knows but this client does not send.
constexpr std::array<std::string_view, 13> kKnownSpbNames = {"sys_user_name",
                                                             "sys_user_name_enc",
                                                             "password_enc",
                                                             "command_line",
                                                             "dbname",
                                                             "verbose",
                                                             "options",
                                                             "connect_timeout",
                                                             "dummy_packet_interval",
                                                             "sql_role_name",
                                                             "trusted_auth",
                                                             "trusted_role",
                                                             "expected_db"};

void addByte(std::string& block, int value) {
  block += static_cast<char>(value & 0xFF);
}

void addInteger(std::string& block, int tag, uint32_t value) {
  addByte(block, tag);
  for (int i = 0; i < 4; ++i) addByte(block, static_cast<int>(value >> (8 * i)));
}

// A string item with a two-byte length; an empty value leaves the item out.
void addString(std::string& block, int tag, std::string_view value) {
  if (value.empty()) return;
  if (value.size() > 0xFFFF) throw Exception("start Parameters missing or incorrect");
  addByte(block, tag);
  addByte(block, static_cast<int>(value.size()));
  addByte(block, static_cast<int>(value.size() >> 8));
  block.append(value);
}

// File lines of a request: a blank line is skipped; "file=length", where the length is a
// whole number, sends the file and then the length item; any other line is one file name.
void addFileLines(std::string& block, int fileTag, int lengthTag, const StringList& lines) {
  for (size_t i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (isBlank(line)) continue;
    const size_t eq = line.rfind('=');
    if (eq != std::string::npos && eq + 1 < line.size()) {
      const std::string_view number(line.data() + eq + 1, line.size() - eq - 1);
      uint32_t length = 0;
      const auto result = std::from_chars(number.data(), number.data() + number.size(), length);
      if (result.ec == std::errc() && result.ptr == number.data() + number.size()) {
        addString(block, fileTag, std::string_view(line).substr(0, eq));
        addInteger(block, lengthTag, length);
        continue;
      }
    }
    addString(block, fileTag, line);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TIBCustomService

TIBCustomService::TIBCustomService() : client_(FbClient::instance()) {
  Params.setChangeGuard([this] {
    if (handle_ != 0) throw Exception("Cannot perform operation -- service is attached");
  });
}

TIBCustomService::~TIBCustomService() {
  Detach();
}

std::string TIBCustomService::ServiceManagerName() const {
  return Protocol == TProtocol::TCP ? ServerName + ":service_mgr" : "service_mgr";
}

std::string TIBCustomService::BuildSpb() const {
  std::string spb;
  addByte(spb, isc_spb_version);
  addByte(spb, isc_spb_current_version);
  // File names in every request of this connection are UTF-8, as the program holds them;
  // without this the client converts them from the process's locale, which may not hold
  // an accented name at all.
  addByte(spb, isc_spb_utf8_filename);
  addByte(spb, 0);
  for (size_t i = 0; i < Params.Count(); ++i) {
    const std::string rawName = Params.Names(i);
    if (isBlank(rawName)) continue;
    std::string name = lowerName(rawName);
    if (name.rfind("isc_spb_", 0) == 0) name.erase(0, 8);
    int tag = 0;
    if (name == "user_name") {
      tag = isc_spb_user_name;
    } else if (name == "password") {
      tag = isc_spb_password;
    } else if (std::find(kKnownSpbNames.begin(), kKnownSpbNames.end(), name) !=
               kKnownSpbNames.end()) {
      throw Exception("SPB Constant Not supported");
    } else {
      throw Exception("SPB Constant Unknown");
    }
    const std::string value = utf8ToCp1252(Params.ValueFromIndex(i));
    // The item's length is one byte: a longer value cannot be sent.
    if (value.size() > 255) throw Exception("SPB value too long: " + name);
    addByte(spb, tag);
    addByte(spb, static_cast<int>(value.size()));
    spb += value;
  }
  return spb;
}

void TIBCustomService::Attach() {
  if (handle_ != 0) throw Exception("Cannot perform operation -- service is attached");
  if (Protocol == TProtocol::TCP && ServerName.empty()) throw Exception("Server Name Missing");
  const std::string spb = BuildSpb();
  const std::string name = ServiceManagerName();
  ISC_STATUS_ARRAY status{};
  isc_svc_handle handle = 0;
  client_.isc_service_attach(status, 0, name.c_str(), &handle,
                             static_cast<unsigned short>(spb.size()), spb.data());
  client_.check(status);
  handle_ = handle;
}

void TIBCustomService::Detach() {
  if (handle_ == 0) return;
  ISC_STATUS_ARRAY status{};
  client_.isc_service_detach(status, &handle_);
  handle_ = 0;
}

void TIBCustomService::setActive(bool active) {
  if (active) {
    Attach();
  } else {
    Detach();
  }
}

void TIBCustomService::requireAttached() const {
  if (handle_ == 0) throw Exception("Cannot perform operation -- service is not attached");
}

// ---------------------------------------------------------------------------------------
// TIBControlService

void TIBControlService::ServiceStart() {
  requireAttached();
  const std::string request = BuildStartRequest();
  if (request.size() > 0xFFFF) throw Exception("start Parameters missing or incorrect");
  startRequested();
  ISC_STATUS_ARRAY status{};
  client_.isc_service_start(status, &handle_, nullptr, static_cast<unsigned short>(request.size()),
                            request.data());
  client_.check(status);
}

// ---------------------------------------------------------------------------------------
// TIBControlAndQueryService

TIBControlAndQueryService::OutputAnswer TIBControlAndQueryService::parseOutputAnswer(
    std::string_view answer) {
  if (answer.size() < 4 || static_cast<unsigned char>(answer[0]) != isc_info_svc_line) {
    throw Exception("Unexpected Output buffer value");
  }
  const size_t length = static_cast<unsigned char>(answer[1]) |
                        (static_cast<size_t>(static_cast<unsigned char>(answer[2])) << 8);
  if (3 + length >= answer.size() || answer[3 + length] != isc_info_end) {
    throw Exception("Unexpected Output buffer value");
  }
  OutputAnswer result;
  if (length == 0) {
    result.finished = true;
    return result;
  }
  std::string_view line = answer.substr(3, length);
  const size_t zero = line.find('\0');
  if (zero != std::string_view::npos) line = line.substr(0, zero);
  result.line = std::string(line);
  return result;
}

TIBControlAndQueryService::InputAnswer TIBControlAndQueryService::parseInputAnswer(
    std::string_view answer) {
  InputAnswer result;
  size_t at = 0;
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(answer[i]); };
  while (at < answer.size()) {
    const unsigned char item = byteAt(at++);
    if (item == isc_info_end) return result;
    if (item == isc_info_svc_stdin) {
      if (at + 4 > answer.size()) break;
      result.inputWanted = static_cast<uint32_t>(byteAt(at)) | (byteAt(at + 1) << 8) |
                           (byteAt(at + 2) << 16) | (static_cast<uint32_t>(byteAt(at + 3)) << 24);
      at += 4;
    } else if (item == isc_info_svc_line) {
      if (at + 2 > answer.size()) break;
      const size_t length = byteAt(at) | (static_cast<size_t>(byteAt(at + 1)) << 8);
      at += 2;
      if (at + length > answer.size()) break;
      std::string_view line = answer.substr(at, length);
      const size_t zero = line.find('\0');
      if (zero != std::string_view::npos) line = line.substr(0, zero);
      result.line = std::string(line);
      at += length;
    } else if (item == isc_info_truncated || item == isc_info_data_not_ready ||
               item == isc_info_svc_timeout) {
      // Nothing more this time: the next query asks again.
    } else {
      break;
    }
  }
  throw Exception("Unexpected Output buffer value");
}

std::string TIBControlAndQueryService::readWithInput(const InputSource& source) {
  // The send block's length is two bytes, and so is the data item's: each query carries at
  // most this much input.
  constexpr size_t kMaxBlock = 0xFFFF - 4;
  for (;;) {
    std::string send;
    // At the end of the input, a block of no bytes tells the server so.
    if (inputWanted_ > 0) {
      std::string data(std::min<size_t>(inputWanted_, kMaxBlock), '\0');
      size_t got = 0;
      while (!inputEnded_ && got < data.size()) {
        const size_t n = source(data.data() + got, data.size() - got);
        if (n == 0) inputEnded_ = true;
        got += n;
      }
      data.resize(got);
      send += static_cast<char>(isc_info_svc_line);
      send += static_cast<char>(got & 0xFF);
      send += static_cast<char>(got >> 8);
      send += data;
    }
    const char request[] = {isc_info_svc_stdin, isc_info_svc_line};
    ISC_STATUS_ARRAY status{};
    std::fill(buffer_.begin(), buffer_.end(), 0);
    client_.isc_service_query(status, &handle_, nullptr, static_cast<unsigned short>(send.size()),
                              send.empty() ? nullptr : send.data(), sizeof request, request,
                              static_cast<unsigned short>(buffer_.size()), buffer_.data());
    client_.check(status);
    const InputAnswer answer = parseInputAnswer(std::string_view(buffer_.data(), buffer_.size()));
    // Each answer tells how much input the server takes now: never more is sent.
    inputWanted_ = answer.inputWanted;
    if (!answer.line.empty()) return clientTextToUtf8(answer.line);
    // No line and no request for input: the service has ended.
    if (inputWanted_ == 0) {
      outputFinished_ = true;
      return {};
    }
  }
}

std::string TIBControlAndQueryService::ReadOutputLine() {
  if (outputFinished_) return {};
  requireAttached();
  if (const InputSource* source = inputSource()) return readWithInput(*source);
  const char request[] = {isc_info_svc_line};
  ISC_STATUS_ARRAY status{};
  std::fill(buffer_.begin(), buffer_.end(), 0);
  client_.isc_service_query(status, &handle_, nullptr, 0, nullptr, sizeof request, request,
                            static_cast<unsigned short>(buffer_.size()), buffer_.data());
  client_.check(status);
  const OutputAnswer answer = parseOutputAnswer(std::string_view(buffer_.data(), buffer_.size()));
  if (answer.finished) {
    outputFinished_ = true;
    return {};
  }
  return clientTextToUtf8(answer.line);
}

// ---------------------------------------------------------------------------------------
// Requests

std::string TIBBackupService::BuildStartRequest() const {
  if (DatabaseName.empty()) throw Exception("start Parameters missing or incorrect");
  std::string request;
  addByte(request, isc_action_svc_backup);
  addString(request, isc_spb_dbname, DatabaseName);
  addInteger(request, isc_spb_options, Options);
  if (Verbose) addByte(request, isc_spb_verbose);
  if (BlockingFactor > 0) {
    addInteger(request, isc_spb_bkp_factor, static_cast<uint32_t>(BlockingFactor));
  }
  addFileLines(request, isc_spb_bkp_file, isc_spb_bkp_length, BackupFile);
  return request;
}

std::string TIBRestoreService::BuildStartRequest() const {
  std::string request;
  addByte(request, isc_action_svc_restore);
  addInteger(request, isc_spb_options, Options);
  if (Verbose) addByte(request, isc_spb_verbose);
  if (PageSize > 0) addInteger(request, isc_spb_res_page_size, static_cast<uint32_t>(PageSize));
  if (PageBuffers > 0) {
    addInteger(request, isc_spb_res_buffers, static_cast<uint32_t>(PageBuffers));
  }
  if (StdinSource) {
    addString(request, isc_spb_bkp_file, "stdin");
  } else {
    addFileLines(request, isc_spb_bkp_file, isc_spb_bkp_length, BackupFile);
  }
  addFileLines(request, isc_spb_dbname, isc_spb_res_length, DatabaseName);
  return request;
}

std::string TIBValidationService::BuildStartRequest() const {
  if (DatabaseName.empty()) throw Exception("start Parameters missing or incorrect");
  std::string request;
  addByte(request, isc_action_svc_validate);
  addString(request, isc_spb_dbname, DatabaseName);
  return request;
}

}  // namespace dovra
