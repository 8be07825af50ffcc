// Pictures of the Win32 main window's three pages and of the notification area with a
// balloon, saved as PNG files into $DOVRA_ARTIFACT_DIR (default "test-artifacts") for a
// person to look at. The checks make sure each picture holds a drawn window, not an empty
// or unpainted one.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/window_model.h"
#include "win32/front_end.h"
#include "win32/win32_event_loop.h"

namespace dovra {
namespace {

// Pixels top row first, 0x00RRGGBB each.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;

  size_t colours() const { return std::set<uint32_t>(pixels.begin(), pixels.end()).size(); }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  // The part of the picture, from 0 to 1, in `colour`.
  double share(uint32_t colour) const {
    return static_cast<double>(std::count(pixels.begin(), pixels.end(), colour)) /
           static_cast<double>(pixels.size());
  }
};

void putBigEndian(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void putChunk(std::string& out, const char* type, const std::string& data) {
  putBigEndian(out, static_cast<uint32_t>(data.size()));
  std::string body = type + data;
  out += body;
  putBigEndian(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                static_cast<uInt>(body.size()))));
}

// An 8-bit RGB PNG of the picture.
void savePng(const Picture& picture, const std::filesystem::path& path) {
  std::string raw;
  raw.reserve(static_cast<size_t>(picture.height) * (1 + 3 * picture.width));
  for (int y = 0; y < picture.height; ++y) {
    raw += '\0';  // no filter
    for (int x = 0; x < picture.width; ++x) {
      const uint32_t p = picture.at(x, y);
      raw += static_cast<char>((p >> 16) & 0xFF);
      raw += static_cast<char>((p >> 8) & 0xFF);
      raw += static_cast<char>(p & 0xFF);
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                      reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                      Z_BEST_COMPRESSION),
            Z_OK);
  packed.resize(packedSize);
  std::string header;
  putBigEndian(header, static_cast<uint32_t>(picture.width));
  putBigEndian(header, static_cast<uint32_t>(picture.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", packed);
  putChunk(png, "IEND", "");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  ASSERT_TRUE(out.good()) << path.string();
}

// Copies `width` x `height` pixels of `source` from (x, y).
Picture capture(HDC source, int x, int y, int width, int height) {
  Picture picture{width, height, {}};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC dc = CreateCompatibleDC(source);
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ old = SelectObject(dc, bitmap);
  BitBlt(dc, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const uint32_t*>(bits);
  picture.pixels.assign(p, p + static_cast<size_t>(width) * height);
  for (uint32_t& px : picture.pixels) px &= 0xFFFFFF;
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return picture;
}

std::filesystem::path artifactDir() {
  const char* dir = std::getenv("DOVRA_ARTIFACT_DIR");
  std::filesystem::path out = dir && *dir ? std::filesystem::path(dir) : "test-artifacts";
  std::filesystem::create_directories(out);
  return out;
}

void pump(Win32EventLoop& loop, int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    loop.processEvents();
    Sleep(10);
  }
}

RECT windowRect(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return r;
}

// The visible balloon of the notification area: a tooltip window of the shell's process.
HWND visibleBalloon() {
  HWND found = nullptr;
  EnumWindows(
      [](HWND hwnd, LPARAM out) -> BOOL {
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (IsWindowVisible(hwnd) && std::wstring(name) == L"tooltips_class32") {
          *reinterpret_cast<HWND*>(out) = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST(Win32ScreenshotTest, MainWindowPagesAndTheNotificationArea) {
  Win32EventLoop loop;
  WindowModel model{loop};
  model.setHint("BackUp Dovra \rEmpresa: LOJA EXEMPLO - EXEMPLO\r\rBackup do dia pendente");
  std::vector<std::string> ran;
  Win32FrontEnd ui(model, [&ran](const std::string& handler) { ran.push_back(handler); });
  model.setCaption("BackUp Dovra Informática - LOJA EXEMPLO - EXEMPLO - Versão: 13");
  model.setLabel("lbDataHora", "08/12/26 - 09:30:12");
  model.setLabel("lbDiretorio", "C:\\Backup\\Cópias\\");
  model.setLabel("lbArquivo", "ERP, NFE");
  model.setLabel("lbStatus", "Backup realizado com sucesso", LabelColor::Highlight);
  model.memoAdd("MemoBackup", "gbak:readied database C:\\ERP\\ERP.FDB for backup");
  model.memoAdd("MemoBackup", "Copia realizada com sucesso para localhost:C:\\ERP\\ERP.FDB");
  model.setPageVisible("TabSheet3", true);
  model.setEditText("MaskEdit1", "09:30");
  model.setEditText("MaskEdit2", "16:30");
  model.setEditText("MaskEdit3", "12:00");
  model.setChecked("rbLocal", true);
  model.setEditText("Edit1", "C:\\Backup\\Manual\\");
  model.setEditText("Edit2", "C:\\Backup\\");
  model.memoAdd("mLog", "Erro: 530 Login incorrect.");
  model.setEditText("Edit3", "C:\\Backup\\Manual\\ERP_081226_09_30_12.zlib");
  model.setLabel("lbDecompress", "Descomprimindo: 1 de 2");
  model.setLabel("lbStatusDecompres", "37");
  model.setWindowVisible(true);
  pump(loop, 300);

  const HWND window = ui.window().hwnd();
  const std::filesystem::path out = artifactDir();
  const HDC screen = GetDC(nullptr);
  const struct {
    const char* page;
    const char* file;
  } pages[] = {{"tbsbackup", "win32_main_window.png"},
               {"TabSheet3", "win32_settings_page.png"},
               {"TabSheet4", "win32_unpack_page.png"}};
  for (const auto& [page, file] : pages) {
    model.setActivePage(page);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    pump(loop, 300);
    // The client area as it is on the screen, the window being on top.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const Picture shot = capture(screen, origin.x, origin.y, 663, 308);
    // A drawn page: the face colour of the window for a good part, text and frames on it.
    EXPECT_GT(shot.colours(), 8u) << page;
    EXPECT_GT(shot.share(GetSysColor(COLOR_BTNFACE) & 0xFFFFFF), 0.2) << page;
    savePng(shot, out / file);
  }
  EXPECT_TRUE(std::filesystem::file_size(out / "win32_main_window.png") > 1000);

  // The notification area: where the shell keeps the icons (the taskbar of Wine's desktop,
  // or its stand-alone tray window), with the balloon over it.
  model.setActivePage("tbsbackup");
  model.showBalloon("BackUp Dovra", "BackUp em andamento", BalloonIcon::Information, 10);
  // Wine's shell opens a balloon two seconds after it was asked for.
  pump(loop, 3000);
  HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (!tray) tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  ASSERT_NE(tray, nullptr) << "no notification area on this desktop";
  RECT area = windowRect(tray);
  if (HWND balloon = visibleBalloon()) {
    const RECT b = windowRect(balloon);
    area = {std::min(area.left, b.left), std::min(area.top, b.top), std::max(area.right, b.right),
            std::max(area.bottom, b.bottom)};
  }
  const Picture trayShot =
      capture(screen, area.left, area.top, area.right - area.left, area.bottom - area.top);
  EXPECT_GT(trayShot.colours(), 4u);
  savePng(trayShot, out / "win32_tray_stand_in.png");
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  savePng(capture(screen, 0, 0, width, height), out / "win32_desktop.png");
  ReleaseDC(nullptr, screen);
  model.hideBalloon();
  model.setWindowVisible(false);
}

}  // namespace
}  // namespace dovra
