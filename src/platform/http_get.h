// HTTP GET for the maker's web server (libcurl on Linux, WinHTTP on Windows): the version
// document and the daily date report. No headers or credentials of our own are sent. Safe
// from any thread (each call has its own handle).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dovra {

struct HttpResponse {
  long status = 0;   // the HTTP status code
  std::string body;  // the response body as received
};

struct HttpGetLimits {
  long connectTimeoutMs = 10000;          // to open the connection
  long totalTimeoutMs = 30000;            // for the whole request
  size_t maxBodyBytes = 4 * 1024 * 1024;  // a longer body fails the request
};

// Fetches url with a GET (following up to five redirects, HTTP and HTTPS only). Any HTTP
// status is returned, not thrown. Fails with dovra::Exception carrying the HTTP client's
// text when the request cannot be made (refused, timed out, bad address, body over the limit).
HttpResponse httpGet(const std::string& url, const HttpGetLimits& limits = {});

// Percent-encodes the bytes of a query value that a query value cannot hold as they are:
// everything but the unreserved characters, the sub-delimiters other than "&", "=" and
// "+", and ":", "@", "/", "?". So "12345678000195" and "08/12/2026" pass unchanged.
std::string encodeQueryValue(std::string_view value);

}  // namespace dovra
