/* Test equipment, never shipped: a Wine builtin fbclient.dll (and gds32.dll) that lets the
 * Windows program, run under Wine, reach the real Firebird server of the test machine.
 *
 * Every ISC entry point the program resolves is exported under its Windows name and
 * forwarded to the Linux client library (libfbclient.so.2), which this module links. The
 * two sides differ in:
 *  - calling convention: the program calls with the Windows x64 convention (ms_abi), the
 *    Linux library takes the System V one; each export is declared ms_abi, and the call to
 *    the library is an ordinary one. isc_start_transaction is variadic and is taken apart
 *    here (Windows variadic arguments) and passed on as isc_start_multiple.
 *  - types: none. Windows x64 long is 32-bit, which is why ibase.h makes ISC_LONG an int
 *    on LP64 Linux and a long on Win64: both 32-bit. ISC_STATUS is intptr_t (64-bit) and
 *    the handles are 32-bit unsigned on both, and XSQLDA has the same layout; the static
 *    assertions below hold the build to that.
 *  - file names: a Windows client takes the names in an attach or a service request in
 *    the process's ANSI code page (Windows-1252 here) unless the parameter block says
 *    isc_dpb_utf8_filename / isc_spb_utf8_filename, and so does this module: such names
 *    and the parameter block's other strings are converted from Windows-1252 to UTF-8 and
 *    the block is marked UTF-8 for the Linux library. A drive path (C:\...) becomes the
 *    Unix path of that Wine drive (wine_get_unix_file_name, symbolic links resolved), as
 *    the Linux server must see it. A location without a host ("C:\...\ERP.FDB",
 *    "service_mgr") reaches the local server over loopback, as a Windows client reaches
 *    the local server through its local protocol; the Linux library would otherwise open
 *    the file with its embedded engine. The library's messages name such files by the
 *    Windows names they were given.
 *
 * DOVRA_FB_BRIDGE_TRACE=1 prints each translated name on standard error.
 *
 * The module is built with winegcc (an ELF builtin) and found through WINEDLLPATH, with a
 * placeholder file of the same name (winebuild --fake-module) in a folder of the Windows
 * search path. Windows headers are kept out of this file on purpose: winegcc defines
 * _WIN32, under which ibase.h would declare the Linux library's functions __stdcall
 * (ms_abi) as well. */
#undef WIN32
#undef _WIN32
#undef __WIN32__
#undef WIN64
#undef _WIN64

#include <ibase.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define WINAPI_EXPORT __attribute__((ms_abi))

_Static_assert(sizeof(ISC_STATUS) == 8, "ISC_STATUS is 64-bit on Windows x64");
_Static_assert(sizeof(ISC_LONG) == 4, "ISC_LONG is a Windows x64 long, 32-bit");
_Static_assert(sizeof(isc_db_handle) == 4, "handles are 32-bit on Windows x64");
_Static_assert(sizeof(XSQLVAR) == 160, "XSQLVAR has the Windows x64 layout");

/* From Wine's kernel32, with the Windows convention. */
extern char* WINAPI_EXPORT wine_get_unix_file_name(const uint16_t* dos);
extern void* WINAPI_EXPORT GetProcessHeap(void);
extern int WINAPI_EXPORT HeapFree(void* heap, unsigned int flags, void* memory);

/* ---- text ---------------------------------------------------------------------------- */

/* Windows-1252 bytes 0x80..0x9F; the undefined ones stay the C1 controls of their value. */
static const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

/* A growing byte buffer; every function that fills one aborts on exhaustion of memory. */
typedef struct {
  char* data;
  size_t size;
  size_t capacity;
} Buffer;

static void put(Buffer* b, const void* bytes, size_t n) {
  if (b->size + n + 1 > b->capacity) {
    size_t capacity = b->capacity ? b->capacity : 256;
    while (b->size + n + 1 > capacity) capacity *= 2;
    b->data = realloc(b->data, capacity);
    if (b->data == NULL) abort();
    b->capacity = capacity;
  }
  memcpy(b->data + b->size, bytes, n);
  b->size += n;
  b->data[b->size] = '\0';
}

static void putByte(Buffer* b, int c) {
  const unsigned char byte = (unsigned char)c;
  put(b, &byte, 1);
}

static void putString(Buffer* b, const char* s) {
  put(b, s, strlen(s));
}

static void putUtf8(Buffer* b, uint32_t cp) {
  if (cp < 0x80) {
    putByte(b, (int)cp);
  } else if (cp < 0x800) {
    putByte(b, 0xC0 | (int)(cp >> 6));
    putByte(b, 0x80 | (int)(cp & 0x3F));
  } else {
    putByte(b, 0xE0 | (int)(cp >> 12));
    putByte(b, 0x80 | (int)((cp >> 6) & 0x3F));
    putByte(b, 0x80 | (int)(cp & 0x3F));
  }
}

/* Windows-1252 bytes as UTF-8. */
static void putCp1252AsUtf8(Buffer* b, const char* text, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = (unsigned char)text[i];
    putUtf8(b, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  }
}

/* UTF-8 as UTF-16 (NUL-terminated, malloc'd); invalid bytes are taken as Latin-1. */
static uint16_t* utf16(const char* text) {
  const size_t n = strlen(text);
  uint16_t* out = malloc((n + 1) * 2 * sizeof(uint16_t));
  if (out == NULL) abort();
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char c = (unsigned char)text[i];
    uint32_t cp = c;
    size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra > 0 && i + extra < n + 1) {
      cp = c & (0x3F >> extra);
      for (size_t k = 1; k <= extra; ++k) {
        const unsigned char cc = (unsigned char)text[i + k];
        if ((cc & 0xC0) != 0x80) {
          extra = 0;
          cp = c;
          break;
        }
        cp = (cp << 6) | (cc & 0x3F);
      }
    } else {
      extra = 0;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = (uint16_t)(0xD800 | (cp >> 10));
      out[o++] = (uint16_t)(0xDC00 | (cp & 0x3FF));
    } else {
      out[o++] = (uint16_t)cp;
    }
  }
  out[o] = 0;
  return out;
}

static int traceOn(void) {
  const char* v = getenv("DOVRA_FB_BRIDGE_TRACE");
  return v != NULL && *v != '\0' && strcmp(v, "0") != 0;
}

/* ---- locations ------------------------------------------------------------------------- */

static int isDrivePath(const char* path) {
  return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && (path[2] == '\\' || path[2] == '/' || path[2] == '\0');
}

/* `path` with the symbolic links of its longest existing part resolved (the Wine drive
 * links under dosdevices/), malloc'd. */
static char* resolved(const char* path) {
  char real[PATH_MAX];
  if (realpath(path, real) != NULL) return strdup(real);
  const char* cut = strrchr(path, '/');
  if (cut == NULL || cut == path) return strdup(path);
  char* parent = strndup(path, (size_t)(cut - path));
  char* head = resolved(parent);
  free(parent);
  Buffer b = {0};
  putString(&b, head);
  putString(&b, cut);
  free(head);
  return b.data;
}

/* The Unix path of a Windows drive path given in UTF-8, malloc'd; NULL when Wine knows no
 * such drive. A name that does not exist yet is its folder's Unix path and the name. */
static char* unixPath(const char* windowsPath) {
  uint16_t* wide = utf16(windowsPath);
  char* onHost = wine_get_unix_file_name(wide);
  free(wide);
  if (onHost != NULL) {
    char* out = resolved(onHost);
    HeapFree(GetProcessHeap(), 0, onHost);
    return out;
  }
  const char* cut = strrchr(windowsPath, '\\');
  const char* slash = strrchr(windowsPath, '/');
  if (slash != NULL && (cut == NULL || slash > cut)) cut = slash;
  if (cut == NULL || cut - windowsPath < 3) return NULL;
  char* parent = strndup(windowsPath, (size_t)(cut - windowsPath));
  char* head = unixPath(parent);
  free(parent);
  if (head == NULL) return NULL;
  Buffer b = {0};
  putString(&b, head);
  putByte(&b, '/');
  putString(&b, cut + 1);
  free(head);
  return b.data;
}

/* The Unix names given to the library and the Windows names they stand for, so that the
 * library's messages name files as the program gave them, as on Windows. Texts made for
 * messages are kept for the rest of the process (a status vector may be read long after
 * the call); past the limits, messages keep the Unix names. */
#define MAX_NAMES 512
#define MAX_MESSAGE_TEXTS 4096
static struct {
  char* onHost;
  char* windows;
} names[MAX_NAMES];
static int nameCount;
static int messageTexts;
static pthread_mutex_t namesLock = PTHREAD_MUTEX_INITIALIZER;

static void rememberName(const char* onHost, const char* windows) {
  pthread_mutex_lock(&namesLock);
  int known = 0;
  for (int i = 0; i < nameCount && !known; ++i) known = strcmp(names[i].onHost, onHost) == 0;
  if (!known && nameCount < MAX_NAMES) {
    names[nameCount].onHost = strdup(onHost);
    names[nameCount].windows = strdup(windows);
    ++nameCount;
  }
  pthread_mutex_unlock(&namesLock);
}

/* `text` with the Unix names it holds given back their Windows names; NULL when it holds
 * none. Longer names are matched first, so a folder does not cut a file's name in two. */
static const char* windowsText(const char* text, size_t n) {
  Buffer out = {0};
  int replaced = 0;
  pthread_mutex_lock(&namesLock);
  size_t i = 0;
  while (i < n) {
    int best = -1;
    size_t bestLength = 0;
    for (int k = 0; k < nameCount; ++k) {
      const size_t length = strlen(names[k].onHost);
      if (length > bestLength && length <= n - i &&
          memcmp(text + i, names[k].onHost, length) == 0) {
        best = k;
        bestLength = length;
      }
    }
    if (best >= 0) {
      putString(&out, names[best].windows);
      i += bestLength;
      replaced = 1;
    } else {
      put(&out, text + i, 1);
      ++i;
    }
  }
  if (replaced && messageTexts >= MAX_MESSAGE_TEXTS) replaced = 0;
  if (replaced) ++messageTexts;
  pthread_mutex_unlock(&namesLock);
  if (!replaced) {
    free(out.data);
    return NULL;
  }
  return out.data;
}

/* The status vector of a call with its texts naming files as the program did. */
static ISC_STATUS windowsStatus(ISC_STATUS* status, ISC_STATUS result) {
  if (status == NULL) return result;
  for (size_t i = 0; i + 1 < ISC_STATUS_LENGTH && status[i] != isc_arg_end;) {
    const ISC_STATUS kind = status[i];
    if (kind == isc_arg_string || kind == isc_arg_interpreted || kind == isc_arg_sql_state) {
      const char* text = (const char*)status[i + 1];
      const char* windows = text ? windowsText(text, strlen(text)) : NULL;
      if (windows != NULL) status[i + 1] = (ISC_STATUS)windows;
      i += 2;
    } else if (kind == isc_arg_cstring && i + 2 < ISC_STATUS_LENGTH) {
      const char* windows = windowsText((const char*)status[i + 2], (size_t)status[i + 1]);
      if (windows != NULL) {
        status[i + 1] = (ISC_STATUS)strlen(windows);
        status[i + 2] = (ISC_STATUS)windows;
      }
      i += 3;
    } else {
      i += 2;
    }
  }
  return result;
}

/* A location ("host:path", "path", "host:service_mgr") as the Linux library takes it:
 * UTF-8, drive paths made Unix paths, and a location without a host given the local
 * server's. `utf8` says whether the text already is UTF-8 (else Windows-1252). */
static char* linuxLocation(const char* text, size_t n, int utf8, int isFile) {
  Buffer name = {0};
  if (utf8) {
    put(&name, text, n);
  } else {
    putCp1252AsUtf8(&name, text, n);
  }
  if (name.data == NULL) putString(&name, "");
  const char* path = name.data;
  Buffer host = {0};
  // One letter before the colon is a drive, not a host.
  const char* colon = strchr(name.data, ':');
  if (colon != NULL && !isDrivePath(name.data)) {
    put(&host, name.data, (size_t)(colon - name.data));
    path = colon + 1;
  }
  Buffer out = {0};
  if (host.data != NULL) {
    putString(&out, host.data);
  } else if (isDrivePath(path) || !isFile) {
    putString(&out, "localhost");
  }
  if (out.data != NULL) putByte(&out, ':');
  char* onHost = isDrivePath(path) ? unixPath(path) : NULL;
  if (onHost != NULL) rememberName(onHost, path);
  putString(&out, onHost != NULL ? onHost : path);
  if (traceOn()) fprintf(stderr, "fbclient bridge: %s -> %s\n", name.data, out.data);
  free(onHost);
  free(name.data);
  free(host.data);
  return out.data;
}

/* A backup or database file named in a service request: UTF-8 and, for a drive path, the
 * Unix path. */
static char* linuxFile(const char* text, size_t n, int utf8) {
  Buffer name = {0};
  if (utf8) {
    put(&name, text, n);
  } else {
    putCp1252AsUtf8(&name, text, n);
  }
  if (name.data == NULL) putString(&name, "");
  char* onHost = isDrivePath(name.data) ? unixPath(name.data) : NULL;
  if (onHost == NULL) return name.data;
  rememberName(onHost, name.data);
  if (traceOn()) fprintf(stderr, "fbclient bridge: %s -> %s\n", name.data, onHost);
  free(name.data);
  return onHost;
}

/* ---- parameter blocks ------------------------------------------------------------------ */

/* The strings of an attach's parameter block that a Windows client converts from its code
 * page. */
static int isDpbString(int tag) {
  return tag == isc_dpb_user_name || tag == isc_dpb_password || tag == isc_dpb_sql_role_name ||
         tag == isc_dpb_working_directory || tag == isc_dpb_set_db_charset ||
         tag == isc_dpb_process_name || tag == isc_dpb_host_name || tag == isc_dpb_os_user;
}

static int isSpbString(int tag) {
  return tag == isc_spb_user_name || tag == isc_spb_password || tag == isc_spb_sql_role_name;
}

/* A database or service attach block (version byte(s), then tag, one length byte, value),
 * its strings in UTF-8 and marked so. `*utf8` is set when the block already was. */
static Buffer utf8Block(const char* block, size_t n, size_t versionBytes, int utf8Tag,
                        int (*isString)(int), int* utf8) {
  *utf8 = 0;
  for (size_t i = versionBytes; i + 1 < n; i += 2 + (unsigned char)block[i + 1]) {
    if ((unsigned char)block[i] == utf8Tag) *utf8 = 1;
  }
  Buffer out = {0};
  if (n < versionBytes) {
    // An empty block: the version of a database one (the only attach that sends none).
    putByte(&out, isc_dpb_version1);
  } else {
    put(&out, block, versionBytes);
  }
  size_t i = versionBytes;
  while (n >= versionBytes && i + 1 < n) {
    const int tag = (unsigned char)block[i];
    const size_t length = (unsigned char)block[i + 1];
    if (i + 2 + length > n) break;
    const char* value = block + i + 2;
    if (!*utf8 && isString(tag)) {
      Buffer converted = {0};
      putCp1252AsUtf8(&converted, value, length);
      if (converted.size <= 255) {
        putByte(&out, tag);
        putByte(&out, (int)converted.size);
        if (converted.size) put(&out, converted.data, converted.size);
      } else {
        put(&out, block + i, 2 + length);
      }
      free(converted.data);
    } else {
      put(&out, block + i, 2 + length);
    }
    i += 2 + length;
  }
  if (i < n) put(&out, block + i, n - i);
  if (!*utf8) {
    putByte(&out, utf8Tag);
    putByte(&out, 0);
  }
  return out;
}

/* Whether each service handle was attached with UTF-8 names. */
#define MAX_SERVICES 64
static struct {
  isc_svc_handle handle;
  int utf8;
} services[MAX_SERVICES];
static pthread_mutex_t servicesLock = PTHREAD_MUTEX_INITIALIZER;

static void rememberService(isc_svc_handle handle, int utf8) {
  pthread_mutex_lock(&servicesLock);
  for (int i = 0; i < MAX_SERVICES; ++i) {
    if (services[i].handle == 0 || services[i].handle == handle) {
      services[i].handle = handle;
      services[i].utf8 = utf8;
      break;
    }
  }
  pthread_mutex_unlock(&servicesLock);
}

static void forgetService(isc_svc_handle handle) {
  pthread_mutex_lock(&servicesLock);
  for (int i = 0; i < MAX_SERVICES; ++i) {
    if (services[i].handle == handle) services[i].handle = 0;
  }
  pthread_mutex_unlock(&servicesLock);
}

static int serviceIsUtf8(isc_svc_handle handle) {
  int utf8 = 0;
  pthread_mutex_lock(&servicesLock);
  for (int i = 0; i < MAX_SERVICES; ++i) {
    if (services[i].handle == handle) utf8 = services[i].utf8;
  }
  pthread_mutex_unlock(&servicesLock);
  return utf8;
}

enum ItemKind { kUnknown, kFlag, kByte, kInteger, kString };

static enum ItemKind backupRestoreItem(int tag) {
  switch (tag) {
    case isc_spb_verbose:
      return kFlag;
    case isc_spb_res_access_mode:
      return kByte;
    case isc_spb_options:
    case isc_spb_bkp_factor:
    case isc_spb_bkp_length:
    case isc_spb_res_buffers:
    case isc_spb_res_page_size:
    case isc_spb_res_length:
    case isc_spb_verbint:
      return kInteger;
    case isc_spb_dbname:
    case isc_spb_bkp_file:
    case isc_spb_sql_role_name:
    case isc_spb_bkp_skip_data:
    case isc_spb_bkp_stat:
    case isc_spb_res_fix_fss_data:
    case isc_spb_res_fix_fss_metadata:
      return kString;
    default:
      return kUnknown;
  }
}

/* The items of an online validation. */
static enum ItemKind validationItem(int tag) {
  switch (tag) {
    case isc_spb_val_lock_timeout:
      return kInteger;
    case isc_spb_dbname:
    case isc_spb_val_tab_incl:
    case isc_spb_val_tab_excl:
    case isc_spb_val_idx_incl:
    case isc_spb_val_idx_excl:
      return kString;
    default:
      return kUnknown;
  }
}

/* A backup, restore or validation request with its file names as the Linux server takes
 * them; any other request, and whatever follows an item this module does not know, as it
 * came. */
static Buffer linuxRequest(const char* request, size_t n, int utf8) {
  Buffer out = {0};
  if (n == 0) return out;
  const int action = (unsigned char)request[0];
  const int validation = action == isc_action_svc_validate;
  if (action != isc_action_svc_backup && action != isc_action_svc_restore && !validation) {
    put(&out, request, n);
    return out;
  }
  putByte(&out, action);
  size_t i = 1;
  while (i < n) {
    const int tag = (unsigned char)request[i];
    const enum ItemKind kind = validation ? validationItem(tag) : backupRestoreItem(tag);
    size_t length = 0;
    if (kind == kFlag) {
      length = 1;
    } else if (kind == kByte) {
      length = 2;
    } else if (kind == kInteger) {
      length = 5;
    } else if (kind == kString && i + 2 < n) {
      const size_t valueLength =
          (unsigned char)request[i + 1] | ((size_t)(unsigned char)request[i + 2] << 8);
      length = 3 + valueLength;
      // "stdin" names the client's stream, not a file.
      if (i + length <= n && (tag == isc_spb_dbname || tag == isc_spb_bkp_file) &&
          !(valueLength == 5 && memcmp(request + i + 3, "stdin", 5) == 0)) {
        char* file = linuxFile(request + i + 3, valueLength, utf8);
        const size_t fileLength = strlen(file);
        putByte(&out, tag);
        putByte(&out, (int)(fileLength & 0xFF));
        putByte(&out, (int)((fileLength >> 8) & 0xFF));
        putString(&out, file);
        free(file);
        i += length;
        continue;
      }
    }
    if (length == 0 || i + length > n) break;
    put(&out, request + i, length);
    i += length;
  }
  if (i < n) put(&out, request + i, n - i);
  return out;
}

/* "CREATE DATABASE 'file' ..." (or SCHEMA) with the file as the Linux server takes it; NULL
 * for any other statement. A Windows client takes the file name in its code page. */
static char* linuxCreateDatabase(const char* sql, size_t n) {
  size_t i = 0;
  while (i < n && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
  if (n - i < 6 || strncasecmp(sql + i, "CREATE", 6) != 0) return NULL;
  i += 6;
  while (i < n && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
  if (n - i >= 8 && strncasecmp(sql + i, "DATABASE", 8) == 0) {
    i += 8;
  } else if (n - i >= 6 && strncasecmp(sql + i, "SCHEMA", 6) == 0) {
    i += 6;
  } else {
    return NULL;
  }
  while (i < n && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
  if (i >= n || (sql[i] != '\'' && sql[i] != '"')) return NULL;
  const char quote = sql[i++];
  Buffer file = {0};
  for (; i < n; ++i) {
    if (sql[i] == quote) {
      if (i + 1 < n && sql[i + 1] == quote) {
        putByte(&file, quote);
        ++i;
        continue;
      }
      break;
    }
    putByte(&file, sql[i]);
  }
  if (i >= n) {
    free(file.data);
    return NULL;
  }
  const size_t rest = i + 1;
  char* location = linuxLocation(file.data ? file.data : "", file.size, 0, 1);
  free(file.data);
  Buffer out = {0};
  putString(&out, "CREATE DATABASE '");
  for (const char* p = location; *p; ++p) {
    if (*p == '\'') putByte(&out, '\'');
    putByte(&out, *p);
  }
  putByte(&out, '\'');
  put(&out, sql + rest, n - rest);
  free(location);
  return out.data;
}

/* ---- the entry points ------------------------------------------------------------------ */

WINAPI_EXPORT ISC_STATUS bridge_isc_attach_database(ISC_STATUS* status, short nameLength,
                                                    const ISC_SCHAR* name, isc_db_handle* db,
                                                    short dpbLength, const ISC_SCHAR* dpb) {
  int utf8 = 0;
  Buffer block = utf8Block(dpb, dpb != NULL && dpbLength > 0 ? (size_t)dpbLength : 0, 1,
                           isc_dpb_utf8_filename, isDpbString, &utf8);
  const size_t n = nameLength > 0 ? (size_t)nameLength : (name ? strlen(name) : 0);
  char* location = linuxLocation(name ? name : "", n, utf8, 1);
  const ISC_STATUS result =
      isc_attach_database(status, 0, location, db, (short)block.size, block.data);
  free(location);
  free(block.data);
  return windowsStatus(status, result);
}

WINAPI_EXPORT ISC_STATUS bridge_isc_detach_database(ISC_STATUS* status, isc_db_handle* db) {
  return windowsStatus(status, isc_detach_database(status, db));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_drop_database(ISC_STATUS* status, isc_db_handle* db) {
  return windowsStatus(status, isc_drop_database(status, db));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_database_info(ISC_STATUS* status, isc_db_handle* db,
                                                  short itemLength, const ISC_SCHAR* items,
                                                  short bufferLength, ISC_SCHAR* buffer) {
  return windowsStatus(status,
                       isc_database_info(status, db, itemLength, items, bufferLength, buffer));
}

/* One database of a transaction, as isc_start_multiple takes it. */
typedef struct {
  isc_db_handle* database;
  int tpbLength;
  const ISC_SCHAR* tpb;
} TransactionDatabase;

/* Windows variadic arguments: per database a handle pointer, an int length, a block. */
WINAPI_EXPORT ISC_STATUS bridge_isc_start_transaction(ISC_STATUS* status, isc_tr_handle* tr,
                                                      short count, ...) {
  if (count <= 0 || count > 16)
    return windowsStatus(status, isc_start_multiple(status, tr, count, NULL));
  TransactionDatabase databases[16];
  __builtin_ms_va_list args;
  __builtin_ms_va_start(args, count);
  for (short i = 0; i < count; ++i) {
    databases[i].database = __builtin_va_arg(args, isc_db_handle*);
    databases[i].tpbLength = __builtin_va_arg(args, int);
    databases[i].tpb = __builtin_va_arg(args, const ISC_SCHAR*);
  }
  __builtin_ms_va_end(args);
  return windowsStatus(status, isc_start_multiple(status, tr, count, databases));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  return windowsStatus(status, isc_commit_transaction(status, tr));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
  return windowsStatus(status, isc_commit_retaining(status, tr));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  return windowsStatus(status, isc_rollback_transaction(status, tr));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_allocate_statement(ISC_STATUS* status, isc_db_handle* db,
                                                            isc_stmt_handle* stmt) {
  return windowsStatus(status, isc_dsql_allocate_statement(status, db, stmt));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr,
                                                 isc_stmt_handle* stmt, unsigned short length,
                                                 const ISC_SCHAR* sql, unsigned short dialect,
                                                 XSQLDA* out) {
  return windowsStatus(status, isc_dsql_prepare(status, tr, stmt, length, sql, dialect, out));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                  unsigned short version, XSQLDA* out) {
  return windowsStatus(status, isc_dsql_describe(status, stmt, version, out));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                       unsigned short version, XSQLDA* in) {
  return windowsStatus(status, isc_dsql_describe_bind(status, stmt, version, in));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                  short itemLength, const ISC_SCHAR* items,
                                                  short bufferLength, ISC_SCHAR* buffer) {
  return windowsStatus(status,
                       isc_dsql_sql_info(status, stmt, itemLength, items, bufferLength, buffer));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr,
                                                 isc_stmt_handle* stmt, unsigned short version,
                                                 const XSQLDA* in) {
  return windowsStatus(status, isc_dsql_execute(status, tr, stmt, version, in));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr,
                                                  isc_stmt_handle* stmt, unsigned short version,
                                                  const XSQLDA* in, const XSQLDA* out) {
  return windowsStatus(status, isc_dsql_execute2(status, tr, stmt, version, in, out));
}

/* With no database handle the statement creates one: its file is translated. */
WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db,
                                                           isc_tr_handle* tr, unsigned short length,
                                                           const ISC_SCHAR* sql,
                                                           unsigned short dialect,
                                                           const XSQLDA* in) {
  char* created = NULL;
  if (db != NULL && *db == 0 && sql != NULL) {
    created = linuxCreateDatabase(sql, length > 0 ? length : strlen(sql));
  }
  const ISC_STATUS result = isc_dsql_execute_immediate(status, db, tr, created ? 0 : length,
                                                       created ? created : sql, dialect, in);
  free(created);
  return windowsStatus(status, result);
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* stmt,
                                               unsigned short version, const XSQLDA* out) {
  return windowsStatus(status, isc_dsql_fetch(status, stmt, version, out));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* stmt,
                                                        unsigned short option) {
  return windowsStatus(status, isc_dsql_free_statement(status, stmt, option));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_open_blob2(ISC_STATUS* status, isc_db_handle* db,
                                               isc_tr_handle* tr, isc_blob_handle* blob,
                                               ISC_QUAD* id, ISC_USHORT bpbLength,
                                               const ISC_UCHAR* bpb) {
  return windowsStatus(status, isc_open_blob2(status, db, tr, blob, id, bpbLength, bpb));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_create_blob2(ISC_STATUS* status, isc_db_handle* db,
                                                 isc_tr_handle* tr, isc_blob_handle* blob,
                                                 ISC_QUAD* id, short bpbLength,
                                                 const ISC_SCHAR* bpb) {
  return windowsStatus(status, isc_create_blob2(status, db, tr, blob, id, bpbLength, bpb));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                                unsigned short* actual, unsigned short bufferLength,
                                                ISC_SCHAR* buffer) {
  return windowsStatus(status, isc_get_segment(status, blob, actual, bufferLength, buffer));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob,
                                                unsigned short length, const ISC_SCHAR* buffer) {
  return windowsStatus(status, isc_put_segment(status, blob, length, buffer));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  return windowsStatus(status, isc_close_blob(status, blob));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  return windowsStatus(status, isc_cancel_blob(status, blob));
}

WINAPI_EXPORT ISC_STATUS bridge_isc_service_attach(ISC_STATUS* status, unsigned short nameLength,
                                                   const ISC_SCHAR* name, isc_svc_handle* svc,
                                                   unsigned short spbLength, const ISC_SCHAR* spb) {
  int utf8 = 0;
  Buffer block =
      utf8Block(spb, spb != NULL ? spbLength : 0, 2, isc_spb_utf8_filename, isSpbString, &utf8);
  const size_t n = nameLength > 0 ? nameLength : (name ? strlen(name) : 0);
  char* location = linuxLocation(name ? name : "", n, utf8, 0);
  const ISC_STATUS result =
      isc_service_attach(status, 0, location, svc, (unsigned short)block.size, block.data);
  if (status[0] == 1 && status[1] == 0 && svc != NULL) rememberService(*svc, utf8);
  free(location);
  free(block.data);
  return windowsStatus(status, result);
}

WINAPI_EXPORT ISC_STATUS bridge_isc_service_detach(ISC_STATUS* status, isc_svc_handle* svc) {
  const isc_svc_handle handle = svc != NULL ? *svc : 0;
  const ISC_STATUS result = isc_service_detach(status, svc);
  forgetService(handle);
  return windowsStatus(status, result);
}

WINAPI_EXPORT ISC_STATUS bridge_isc_service_start(ISC_STATUS* status, isc_svc_handle* svc,
                                                  isc_resv_handle* reserved, unsigned short length,
                                                  const ISC_SCHAR* request) {
  Buffer forwarded =
      linuxRequest(request, request != NULL ? length : 0, svc != NULL && serviceIsUtf8(*svc));
  const ISC_STATUS result =
      isc_service_start(status, svc, reserved, (unsigned short)forwarded.size, forwarded.data);
  free(forwarded.data);
  return windowsStatus(status, result);
}

/* A service's output line as a Windows server writes it: the files it names by the
 * Windows names they were given. The answer is rewritten in place when the new line fits. */
static void windowsOutputLine(ISC_SCHAR* buffer, unsigned short bufferLength) {
  if (buffer == NULL || bufferLength < 4 || (unsigned char)buffer[0] != isc_info_svc_line) return;
  const size_t length = (unsigned char)buffer[1] | ((size_t)(unsigned char)buffer[2] << 8);
  if (length == 0 || 3 + length >= bufferLength) return;
  const char* windows = windowsText(buffer + 3, length);
  if (windows == NULL) return;
  const size_t newLength = strlen(windows);
  if (newLength <= 0xFFFF && 3 + newLength < bufferLength) {
    // What follows the line (isc_info_end first) moves with its end, as far as it fits.
    const size_t oldTail = bufferLength - 3 - length;
    const size_t newTail = bufferLength - 3 - newLength;
    memmove(buffer + 3 + newLength, buffer + 3 + length, oldTail < newTail ? oldTail : newTail);
    memcpy(buffer + 3, windows, newLength);
    buffer[1] = (char)(newLength & 0xFF);
    buffer[2] = (char)((newLength >> 8) & 0xFF);
  }
}

WINAPI_EXPORT ISC_STATUS bridge_isc_service_query(ISC_STATUS* status, isc_svc_handle* svc,
                                                  isc_resv_handle* reserved,
                                                  unsigned short sendLength, const ISC_SCHAR* send,
                                                  unsigned short requestLength,
                                                  const ISC_SCHAR* request,
                                                  unsigned short bufferLength, ISC_SCHAR* buffer) {
  const ISC_STATUS result = isc_service_query(status, svc, reserved, sendLength, send,
                                              requestLength, request, bufferLength, buffer);
  if (status != NULL && status[0] == 1 && status[1] == 0) windowsOutputLine(buffer, bufferLength);
  return windowsStatus(status, result);
}

WINAPI_EXPORT ISC_LONG bridge_fb_interpret(ISC_SCHAR* buffer, unsigned int length,
                                           const ISC_STATUS** status) {
  return fb_interpret(buffer, length, status);
}

WINAPI_EXPORT ISC_LONG bridge_isc_sqlcode(const ISC_STATUS* status) {
  return isc_sqlcode(status);
}
