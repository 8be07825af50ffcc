#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "platform/error.h"
#include "platform/http_get.h"

namespace dovra {

namespace {

struct Sink {
  std::string* body;
  size_t limit;
  bool overflow = false;
};

size_t collect(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  const size_t bytes = size * count;
  if (sink->body->size() + bytes > sink->limit) {
    sink->overflow = true;
    return 0;  // makes curl stop with a write error
  }
  sink->body->append(data, bytes);
  return bytes;
}

void initCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpResponse httpGet(const std::string& url, const HttpGetLimits& limits) {
  initCurl();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw Exception("HTTP client could not be initialised.");
  HttpResponse response;
  Sink sink{&response.body, limits.maxBodyBytes};
  char errorText[CURL_ERROR_SIZE] = "";
  CURL* h = curl.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  const CURLcode rc = curl_easy_perform(h);
  if (sink.overflow) throw Exception("Response larger than the limit.");
  if (rc != CURLE_OK) throw Exception(*errorText ? errorText : curl_easy_strerror(rc));
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace dovra
