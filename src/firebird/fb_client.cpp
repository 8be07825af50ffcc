#include "firebird/fb_client.h"

#include <cstdlib>
#include <mutex>

#include "platform/dynamic_library.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

// The client library's file name. Windows installations of the ERP carry it as gds32.dll;
// a plain Firebird client installation has only fbclient.dll, looked for next.
#ifdef _WIN32
constexpr const char* kDefaultLibrary = "gds32.dll";
constexpr const char* kFallbackLibrary = "fbclient.dll";
#else
constexpr const char* kDefaultLibrary = "libfbclient.so.2";
constexpr const char* kFallbackLibrary = nullptr;
#endif
// The line break between the lines of one client message.
constexpr std::string_view kMessageLineBreak = "\r\n";

bool isValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

template <typename Fn>
void resolve(const DynamicLibrary& library, const std::string& name, const char* symbol,
             Fn& target) {
  void* address = library.symbol(symbol);
  if (address == nullptr) {
    throw Exception("Entry point " + std::string(symbol) + " not found in " + name);
  }
  target = reinterpret_cast<Fn>(address);
}

}  // namespace

std::string clientTextToUtf8(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  return cp1252ToUtf8(text);
}

std::string clientFileNameInSql(std::string_view utf8) {
#ifdef _WIN32
  return utf8ToCp1252(utf8);
#else
  return std::string(utf8);
#endif
}

std::string FbClient::libraryName() {
  const char* configured = std::getenv("DOVRA_FBCLIENT");
  if (configured != nullptr && *configured != '\0') return configured;
  return kDefaultLibrary;
}

std::string FbClient::notFoundMessage(const std::string& name) {
  return "InterBase library " + name +
         " not found in the path. Please install InterBase to use this functionality";
}

std::unique_ptr<FbClient> FbClient::load(const std::string& name) {
  useUtf8CharacterType();  // the library converts file names through the locale
  DynamicLibrary library;
  if (!library.load(name)) throw Exception(notFoundMessage(name));
  std::unique_ptr<FbClient> client(new FbClient());
  client->name_ = name;
#define DOVRA_RESOLVE(fn) resolve(library, name, #fn, client->fn)
  DOVRA_RESOLVE(isc_attach_database);
  DOVRA_RESOLVE(isc_detach_database);
  DOVRA_RESOLVE(isc_drop_database);
  DOVRA_RESOLVE(isc_database_info);
  DOVRA_RESOLVE(isc_start_transaction);
  DOVRA_RESOLVE(isc_commit_transaction);
  DOVRA_RESOLVE(isc_commit_retaining);
  DOVRA_RESOLVE(isc_rollback_transaction);
  DOVRA_RESOLVE(isc_dsql_allocate_statement);
  DOVRA_RESOLVE(isc_dsql_prepare);
  DOVRA_RESOLVE(isc_dsql_describe);
  DOVRA_RESOLVE(isc_dsql_describe_bind);
  DOVRA_RESOLVE(isc_dsql_sql_info);
  DOVRA_RESOLVE(isc_dsql_execute);
  DOVRA_RESOLVE(isc_dsql_execute2);
  DOVRA_RESOLVE(isc_dsql_execute_immediate);
  DOVRA_RESOLVE(isc_dsql_fetch);
  DOVRA_RESOLVE(isc_dsql_free_statement);
  DOVRA_RESOLVE(isc_open_blob2);
  DOVRA_RESOLVE(isc_create_blob2);
  DOVRA_RESOLVE(isc_get_segment);
  DOVRA_RESOLVE(isc_put_segment);
  DOVRA_RESOLVE(isc_close_blob);
  DOVRA_RESOLVE(isc_cancel_blob);
  DOVRA_RESOLVE(isc_service_attach);
  DOVRA_RESOLVE(isc_service_detach);
  DOVRA_RESOLVE(isc_service_start);
  DOVRA_RESOLVE(isc_service_query);
  DOVRA_RESOLVE(fb_interpret);
  DOVRA_RESOLVE(isc_sqlcode);
#undef DOVRA_RESOLVE
  // A missing entry point unloads the library again (the destructor); a complete client
  // keeps it for the rest of the process.
  library.release();
  return client;
}

// The configured or default library; when the default one is not found, the fallback
// name, and when neither is found the message names the default one.
static std::unique_ptr<FbClient> loadFirstFound() {
  const std::string name = FbClient::libraryName();
  try {
    return FbClient::load(name);
  } catch (const Exception& e) {
    if (kFallbackLibrary == nullptr || name != kDefaultLibrary ||
        e.what() != FbClient::notFoundMessage(name)) {
      throw;
    }
  }
  try {
    return FbClient::load(kFallbackLibrary);
  } catch (const Exception& e) {
    if (e.what() != FbClient::notFoundMessage(kFallbackLibrary)) throw;
  }
  throw Exception(FbClient::notFoundMessage(name));
}

const FbClient& FbClient::instance() {
  static std::once_flag once;
  // Never destroyed: objects that outlive static destruction may still close handles.
  static FbClient* client = nullptr;
  // call_once leaves the flag unset when the loader throws, so a later call retries.
  std::call_once(once, [] { client = loadFirstFound().release(); });
  return *client;
}

std::string FbClient::interpret(const ISC_STATUS* status) const {
  std::string message;
  const ISC_STATUS* vector = status;
  char buffer[1024];
  while (fb_interpret(buffer, sizeof buffer, &vector) > 0) {
    if (!message.empty()) message += kMessageLineBreak;
    message += buffer;
  }
  if (message.empty()) message = "Unknown database error " + std::to_string(status[1]);
  return clientTextToUtf8(message);
}

EIBError FbClient::error(const ISC_STATUS* status) const {
  return EIBError(interpret(status), static_cast<int32_t>(isc_sqlcode(status)),
                  static_cast<int64_t>(status[1]));
}

void FbClient::check(const ISC_STATUS* status) const {
  if (status[0] == 1 && status[1] != 0) throw error(status);
}

}  // namespace dovra
