#include "platform/windows_support.h"

#include <winhttp.h>

#include <algorithm>
#include <chrono>

#include "platform/error.h"
#include "platform/http_get.h"

namespace dovra {
namespace {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  ~InternetHandle() {
    if (h_) WinHttpCloseHandle(h_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

// The system's text for a WinHTTP or Windows error code.
std::string errorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM |
      (code >= WINHTTP_ERROR_BASE && code <= WINHTTP_ERROR_LAST ? FORMAT_MESSAGE_FROM_HMODULE : 0);
  const DWORD n = FormatMessageW(flags, GetModuleHandleW(L"winhttp.dll"), code, 0,
                                 reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n > 0 ? win::narrow(std::wstring_view(text, n)) : std::string();
  if (text) LocalFree(text);
  while (!out.empty() && static_cast<unsigned char>(out.back()) <= 0x20) out.pop_back();
  if (out.empty()) out = "HTTP request failed (error " + std::to_string(code) + ")";
  return out;
}

[[noreturn]] void fail() {
  throw Exception(errorText(GetLastError()));
}

int clampMs(long ms) {
  return ms <= 0 ? 1 : ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

}  // namespace

HttpResponse httpGet(const std::string& url, const HttpGetLimits& limits) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.totalTimeoutMs);
  const auto remainingMs = [&] {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
  };

  std::wstring wideUrl = win::widen(url);
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts)) {
    const std::string scheme = url.substr(0, url.find(':'));
    if (scheme != "http" && scheme != "https") {
      throw Exception("Protocol \"" + scheme + "\" not supported");
    }
    fail();
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    throw Exception("Protocol not supported");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  InternetHandle session(WinHttpOpen(L"BackUpDovra", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) fail();
  const int connectMs = clampMs(std::min(limits.connectTimeoutMs, limits.totalTimeoutMs));
  const int totalMs = clampMs(limits.totalTimeoutMs);
  WinHttpSetTimeouts(session.get(), connectMs, connectMs, totalMs, totalMs);
  DWORD redirects = 5;
  WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                   sizeof redirects);
  InternetHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) fail();
  InternetHandle request(
      WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES,
                         parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) fail();
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    fail();
  }
  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    fail();
  }
  response.status = static_cast<long>(status);
  char buf[16384];
  for (;;) {
    if (remainingMs() <= 0) throw Exception("Operation timed out");
    DWORD n = 0;
    if (!WinHttpReadData(request.get(), buf, sizeof buf, &n)) fail();
    if (n == 0) break;
    if (response.body.size() + n > limits.maxBodyBytes) {
      throw Exception("Response larger than the limit.");
    }
    response.body.append(buf, n);
  }
  return response;
}

}  // namespace dovra
