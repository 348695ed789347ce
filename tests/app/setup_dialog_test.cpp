// The main window in this process: its picture, layout, lines, the Install
// and Cancel commands, and whole runs of the install sequence through the
// program's own host, with the site replaced or on loopback servers.
#include <winsock2.h>

#include "app/setup_dialog.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/dib_picture.h"
#include "app/setup_host.h"
#include "base/cancel_flag.h"
#include "install/install_sequence.h"
#include "install/product.h"
#include "install/publisher_check.h"
#include "base/registry.h"
#include "base/ui_language.h"
#include "resources/resource_ids.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "transport/host_connection.h"

using namespace testing_support;

namespace {

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

// Pumps this thread's messages until done() holds; false on timeout. A quit
// message sets *quit (when given) with its exit code.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 10000, int* quit = nullptr) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeout_ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        if (quit) *quit = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return true;
}

std::string ItemText(HWND window, int id) {
  char text[512] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

RECT ClientRectOf(HWND parent, int id) {
  RECT area;
  GetWindowRect(GetDlgItem(parent, id), &area);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
  return area;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool InstallEnabled(HWND window) { return IsWindowEnabled(GetDlgItem(window, 1)) != FALSE; }

// Runs fn on a thread of its own while this thread pumps, as the worker's
// window calls wait for the window's thread.
void OnWorker(const std::function<void()>& fn) {
  std::atomic<bool> done(false);
  std::thread worker([&] {
    fn();
    done = true;
  });
  bool finished = PumpUntil([&] { return done.load(); });
  worker.join();
  ASSERT_TRUE(finished);
}

TEST(Picture, DecodesWithTheKeyColourAsButtonFace) {
  DibPicture picture(Module(), IDB_PICTURE);
  ASSERT_TRUE(picture.IsValid());
  EXPECT_EQ(4, picture.Info()->bmiHeader.biBitCount);
  EXPECT_EQ(static_cast<DWORD>(BI_RLE4), picture.Info()->bmiHeader.biCompression);
  EXPECT_EQ(156, picture.Width());
  EXPECT_EQ(187, picture.Height());
  EXPECT_EQ(16, picture.ColourCount());
  // The picture tool puts the key colour at entry 1; no entry keeps it.
  const int key = 1;
  for (int i = 0; i < 16; ++i) {
    const RGBQUAD& c = picture.Info()->bmiColors[i];
    EXPECT_FALSE(c.rgbRed == 0 && c.rgbGreen == 128 && c.rgbBlue == 128) << "entry " << i;
  }
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  const RGBQUAD& replaced = picture.Info()->bmiColors[key];
  EXPECT_EQ(face, RGB(replaced.rgbRed, replaced.rgbGreen, replaced.rgbBlue));
  PALETTEENTRY entry;
  ASSERT_EQ(1u, GetPaletteEntries(picture.Palette(), key, 1, &entry));
  EXPECT_EQ(face, RGB(entry.peRed, entry.peGreen, entry.peBlue));
  EXPECT_EQ(16u, GetPaletteEntries(picture.Palette(), 0, 0, nullptr));

  // Drawn into a larger surface of a sentinel colour: exactly the picture's
  // rectangle, scaled to the DPI, changes, and the background shows the
  // button face.
  for (UINT dpi : {96u, 144u, 192u}) {
    const int pw = MulDiv(156, dpi, 96), ph = MulDiv(187, dpi, 96);
    const int w = pw + 14, h = ph + 13;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP surface = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, surface);
    HGDIOBJ old = SelectObject(dc, surface);
    const COLORREF sentinel = RGB(255, 0, 255);
    HBRUSH brush = CreateSolidBrush(sentinel);
    RECT all = {0, 0, w, h};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    picture.Draw(dc, 3, 3, dpi);
    GdiFlush();
    int drawn = 0, background = 0, outside_changed = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        COLORREF c = GetPixel(dc, x, y);
        bool inside = x >= 3 && x < 3 + pw && y >= 3 && y < 3 + ph;
        if (!inside) {
          if (c != sentinel) ++outside_changed;
          continue;
        }
        if (c != sentinel) ++drawn;
        if (c == face) ++background;
      }
    }
    EXPECT_EQ(0, outside_changed) << dpi;
    EXPECT_EQ(pw * ph, drawn) << dpi;
    // The corners are background; the character covers a good part.
    EXPECT_EQ(face, GetPixel(dc, 3, 3)) << dpi;
    EXPECT_EQ(face, GetPixel(dc, 3 + pw - 1, 3 + ph - 1)) << dpi;
    EXPECT_GT(background, pw * ph / 5) << dpi;
    EXPECT_LT(background, pw * ph * 4 / 5) << dpi;
    SelectObject(dc, old);
    DeleteObject(surface);
    DeleteDC(dc);
  }
}

// The packed picture is refused whole unless it unpacks to exactly the size
// it declares.
TEST(Picture, RefusesAStreamThatDoesNotUnpackToItsDeclaredSize) {
  HRSRC found = FindResourceA(Module(), MAKEINTRESOURCEA(IDB_PICTURE), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  ASSERT_NE(nullptr, found);
  const BYTE* packed = static_cast<const BYTE*>(LockResource(LoadResource(Module(), found)));
  const std::vector<BYTE> whole(packed, packed + SizeofResource(Module(), found));
  DWORD declared;
  memcpy(&declared, whole.data(), sizeof declared);
  const struct {
    const char* what;
    size_t keep;
    int declared_change;
    bool valid;
  } rows[] = {
      {"as built", whole.size(), 0, true},
      {"no room for the size", 3, 0, false},
      {"stream cut short", whole.size() - 64, 0, false},
      {"declared one byte more", whole.size(), +1, false},
      {"declared one byte less", whole.size(), -1, false},
  };
  for (const auto& row : rows) {
    std::vector<BYTE> bytes(whole.begin(), whole.begin() + row.keep);
    if (bytes.size() >= sizeof declared) {
      DWORD changed = declared + row.declared_change;
      memcpy(bytes.data(), &changed, sizeof changed);
    }
    DibPicture picture(bytes.data(), static_cast<DWORD>(bytes.size()));
    EXPECT_EQ(row.valid, picture.IsValid()) << row.what;
  }
}

TEST(Picture, MissingResourceDrawsNothing) {
  DibPicture picture(Module(), 999);
  EXPECT_FALSE(picture.IsValid());
  HDC dc = CreateCompatibleDC(nullptr);
  picture.Draw(dc, 0, 0);  // must not fault
  DeleteDC(dc);
}

// A worker procedure the test steers: it runs body once per Install.
struct Steered {
  std::atomic<int> runs{0};
  std::function<void()> body;
  static void Run(void* self) {
    Steered* s = static_cast<Steered*>(self);
    ++s->runs;
    if (s->body) s->body();
  }
};

class SetupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the program starts: a language written right to left mirrors.
    UseUiLanguage();
    SetCancelRequested(false);
    dialog_.SetWorker(Steered::Run, &steered_);
    window_ = dialog_.Create();
    ASSERT_NE(nullptr, window_);
  }
  void TearDown() override {
    release_ = true;
    // Let a steered worker finish its calls before the window goes.
    PumpUntil([] { return false; }, 200);
  }

  SetupDialog dialog_{Module(), nullptr};
  Steered steered_;
  HWND window_ = nullptr;
  std::atomic<bool> release_{false};
};

TEST_F(SetupDialogTest, LayoutFollowsTheLineHeight) {
  char title[64];
  GetWindowTextA(window_, title, sizeof title);
  EXPECT_STREQ("Tamsu Setup", title);
  EXPECT_NE(0, SendMessageA(window_, WM_GETICON, ICON_BIG, 0));

  RECT status = ClientRectOf(window_, IDC_STATUS_LINE);
  int h = status.bottom - status.top;
  ASSERT_GT(h, 0);
  EXPECT_EQ(10, status.left);
  EXPECT_EQ(195, status.top);
  EXPECT_EQ(296, status.right - status.left);
  RECT error = ClientRectOf(window_, IDC_ERROR_LINE);
  EXPECT_EQ(10, error.left);
  EXPECT_EQ(195 + h, error.top);
  EXPECT_EQ(h, error.bottom - error.top);
  EXPECT_EQ(296, error.right - error.left);
  RECT thanks = ClientRectOf(window_, IDC_THANKS);
  EXPECT_EQ(125, thanks.left);
  EXPECT_EQ(4, thanks.top);
  EXPECT_EQ(170, thanks.right - thanks.left);
  EXPECT_EQ(153, thanks.bottom - thanks.top);

  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(300, client.right);
  EXPECT_EQ(199 + 2 * h, client.bottom);

  // Centred and inside the work area.
  RECT area, frame;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(window_, &frame);
  EXPECT_GE(frame.left, area.left);
  EXPECT_GE(frame.top, area.top);
  EXPECT_LE(frame.right, area.right);
  EXPECT_LE(frame.bottom, area.bottom);
  EXPECT_LE(abs((frame.left + frame.right) / 2 - (area.left + area.right) / 2), 1);
  EXPECT_LE(abs((frame.top + frame.bottom) / 2 - (area.top + area.bottom) / 2), 1);

  std::string text = ItemText(window_, IDC_THANKS);
  EXPECT_EQ(
      "Thank You For\r\nInstalling Tamsu.\r\n\r\nThe Installation is Web\r\nbased so please keep\r\n your Net "
      "Connection\r\nACTIVE until the\r\ndownload is complete.\r\n\r\n(: Enjoy Tamsu :)",
      text);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(window_, 1)));
  EXPECT_FALSE(InstallEnabled(window_));
}

// A row of the bench's language and DPI table (tests/support/window-table.sh;
// 96 DPI otherwise): the 96-DPI layout scaled, the lines one line of their
// font high, and no text cut, the lines' included with what the program
// puts in them.
TEST_F(SetupDialogTest, LayoutScalesWithTheDpiAndNoTextIsCut) {
  ExpectBenchLocale();
  const UINT dpi = ExpectedDpi();
  ASSERT_EQ(dpi, WindowDpi(window_));
  auto scaled = [dpi](int v) { return MulDiv(v, dpi, 96); };
  RECT status = ClientRectOf(window_, IDC_STATUS_LINE);
  int h = status.bottom - status.top;
  EXPECT_GE(h, LineHeight(GetDlgItem(window_, IDC_STATUS_LINE)));
  EXPECT_EQ(scaled(10), status.left);
  EXPECT_EQ(scaled(195), status.top);
  EXPECT_EQ(scaled(296), status.right - status.left);
  RECT error = ClientRectOf(window_, IDC_ERROR_LINE);
  EXPECT_EQ(scaled(195) + h, error.top);
  EXPECT_EQ(h, error.bottom - error.top);
  RECT thanks = ClientRectOf(window_, IDC_THANKS);
  EXPECT_EQ(scaled(125), thanks.left);
  EXPECT_EQ(scaled(170), thanks.right - thanks.left);
  EXPECT_EQ(scaled(153), thanks.bottom - thanks.top);
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(scaled(300), client.right);
  EXPECT_EQ(scaled(199) + 2 * h, client.bottom);
  LOGFONTA face;
  ASSERT_NE(0, GetObjectA(dialog_.Font(), sizeof face, &face));
  EXPECT_EQ(-scaled(12), face.lfHeight);

  EXPECT_EQ(ExpectedRightToLeft(), (GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0);
  EXPECT_EQ("", CutTexts(window_));
  // Every text the lines are given, in the language of the row, with values
  // of an updater's size (a folder's path has no bound and is left out).
  const struct {
    UiText id;
    const wchar_t* values[3];
  } lines[] = {
      {kUiPleaseWait, {}},       {kUiContacting, {}},   {kUiCancelling, {}},
      {kUiDownloading, {L"10.00Mb"}},
      {kUiDownloadingPart, {L"100", L"10.00Mb", L"10.00Mb"}},
      {kUiContactFailed, {}},    {kUiSecureFailed, {}}, {kUiStartFailed, {}},
      {kUiNotSigned, {L"Brannock"}}, {kUiDiskFull, {}},
  };
  for (const auto& line : lines) {
    UiLine text(line.id, line.values[0], line.values[1], line.values[2]);
    SetDlgItemTextW(window_, IDC_STATUS_LINE, text.Text());
    SetDlgItemTextW(window_, IDC_ERROR_LINE, text.Text());
    EXPECT_EQ("", CutTexts(window_)) << "text " << line.id;
  }
}

// Moved to a monitor of twice the scale and back: the suggested place, the
// layout, the lines' and the thank-you text's fonts made for each DPI, and
// back where it started.
TEST_F(SetupDialogTest, DpiChangeRemakesTheLayoutAndTheFonts) {
  const UINT dpi = WindowDpi(window_);
  RECT before;
  GetClientRect(window_, &before);
  int h = ClientRectOf(window_, IDC_STATUS_LINE).bottom - ClientRectOf(window_, IDC_STATUS_LINE).top;
  RECT suggested = {40, 30, 40 + 2 * before.right, 30 + 2 * before.bottom};
  SendMessageA(window_, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), reinterpret_cast<LPARAM>(&suggested));
  RECT frame, client, status = ClientRectOf(window_, IDC_STATUS_LINE);
  GetWindowRect(window_, &frame);
  GetClientRect(window_, &client);
  EXPECT_EQ(40, frame.left);
  EXPECT_EQ(30, frame.top);
  int h2 = status.bottom - status.top;
  EXPECT_GE(h2, LineHeight(GetDlgItem(window_, IDC_STATUS_LINE)));
  EXPECT_GE(h2, 2 * h - 2);
  EXPECT_EQ(MulDiv(300, 2 * dpi, 96), client.right);
  EXPECT_EQ(MulDiv(199, 2 * dpi, 96) + 2 * h2, client.bottom);
  EXPECT_EQ(MulDiv(195, 2 * dpi, 96), status.top);
  EXPECT_EQ(MulDiv(125, 2 * dpi, 96), ClientRectOf(window_, IDC_THANKS).left);
  LOGFONTA face;
  ASSERT_NE(0, GetObjectA(dialog_.Font(), sizeof face, &face));
  EXPECT_EQ(-MulDiv(12, 2 * dpi, 96), face.lfHeight);
  EXPECT_EQ(dialog_.Font(), reinterpret_cast<HFONT>(SendDlgItemMessageA(window_, IDC_THANKS, WM_GETFONT, 0, 0)));
  SetDlgItemTextA(window_, IDC_STATUS_LINE, "Contacting Pellomar site. Please wait ...");
  EXPECT_EQ("", CutTexts(window_));

  // Back, with a thank-you text in a script Verdana lacks: the shell's
  // dialog font serves it.
  SetDlgItemTextW(window_, IDC_THANKS, L"\u3054\u5229\u7528\u3042\u308a\u304c\u3068\u3046");
  RECT back = {0, 0, before.right, before.bottom};
  SendMessageA(window_, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&back));
  GetClientRect(window_, &client);
  EXPECT_EQ(before.right, client.right);
  EXPECT_EQ(before.bottom, client.bottom);
  LOGFONTA shell;
  ASSERT_NE(0, GetObjectA(reinterpret_cast<HFONT>(SendMessageA(window_, WM_GETFONT, 0, 0)), sizeof shell, &shell));
  ASSERT_NE(0, GetObjectA(dialog_.Font(), sizeof face, &face));
  EXPECT_STREQ(shell.lfFaceName, face.lfFaceName);
  EXPECT_EQ(-MulDiv(12, dpi, 96), face.lfHeight);
  EXPECT_EQ(700, face.lfWeight);
}

TEST_F(SetupDialogTest, BoldVerdanaOnlyForTheThankYouText) {
  HFONT font = reinterpret_cast<HFONT>(SendDlgItemMessageA(window_, IDC_THANKS, WM_GETFONT, 0, 0));
  ASSERT_NE(nullptr, font);
  EXPECT_EQ(dialog_.Font(), font);
  LOGFONTA face;
  ASSERT_NE(0, GetObjectA(font, sizeof face, &face));
  EXPECT_STREQ("Verdana", face.lfFaceName);
  EXPECT_EQ(-12, face.lfHeight);
  EXPECT_EQ(700, face.lfWeight);
  for (int id : {IDC_STATUS_LINE, IDC_ERROR_LINE, 1}) {
    EXPECT_NE(font, reinterpret_cast<HFONT>(SendDlgItemMessageA(window_, id, WM_GETFONT, 0, 0))) << id;
  }
}

TEST_F(SetupDialogTest, ColoursOfTheLines) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  // The status line keeps the default colours on an opaque background.
  LRESULT status = SendMessageA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(GetDlgItem(window_, IDC_STATUS_LINE)));
  EXPECT_NE(reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)), status);
  EXPECT_NE(RGB(255, 0, 0), GetTextColor(dc));
  EXPECT_EQ(OPAQUE, GetBkMode(dc));
  // The error line: red on the window's own background.
  LRESULT brush = SendMessageA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(GetDlgItem(window_, IDC_ERROR_LINE)));
  EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)), brush);
  EXPECT_EQ(RGB(255, 0, 0), GetTextColor(dc));
  EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
  // The thank-you text: transparent, its colour left alone.
  SetTextColor(dc, RGB(1, 2, 3));
  SetBkMode(dc, OPAQUE);
  brush = SendMessageA(window_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(GetDlgItem(window_, IDC_THANKS)));
  EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)), brush);
  EXPECT_EQ(RGB(1, 2, 3), GetTextColor(dc));
  EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
  DeleteDC(dc);
}

TEST_F(SetupDialogTest, PaletteMessages) {
  // Hidden: nothing realised.
  EXPECT_EQ(FALSE, SendMessageA(window_, WM_QUERYNEWPALETTE, 0, 0));
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  EXPECT_EQ(TRUE, SendMessageA(window_, WM_QUERYNEWPALETTE, 0, 0));
  EXPECT_EQ(0, SendMessageA(window_, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(GetDesktopWindow()), 0));
  EXPECT_EQ(0, SendMessageA(window_, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window_), 0));
}

TEST_F(SetupDialogTest, LinesFromTheWorkerAndTheFirstErrorStays) {
  OnWorker([&] {
    dialog_.SetStatusLine(L"Please wait...");
    dialog_.SetErrorLine(L"first");
    dialog_.SetErrorLine(L"second");
  });
  EXPECT_EQ("Please wait...", ItemText(window_, IDC_STATUS_LINE));
  EXPECT_EQ("first", ItemText(window_, IDC_ERROR_LINE));
  OnWorker([&] {
    dialog_.ClearErrorLine();
    dialog_.SetStatusLine(L"");
  });
  EXPECT_EQ("", ItemText(window_, IDC_ERROR_LINE));
  EXPECT_EQ("", ItemText(window_, IDC_STATUS_LINE));
  // Texts outside the system's code page arrive whole.
  const wchar_t kOther[] = L"\x0423\x0441\x0442\x0430\x043d\x043e\x0432\x043a\x0430 \x65e5\x672c \x0625\x0639\x062f\x0627\x062f";
  OnWorker([&] {
    dialog_.SetStatusLine(kOther);
    dialog_.SetErrorLine(kOther);
  });
  wchar_t shown[64] = L"";
  GetDlgItemTextW(window_, IDC_STATUS_LINE, shown, 64);
  EXPECT_STREQ(kOther, shown);
  GetDlgItemTextW(window_, IDC_ERROR_LINE, shown, 64);
  EXPECT_STREQ(kOther, shown);
  OnWorker([&] { dialog_.ClearErrorLine(); });
  OnWorker([&] { dialog_.SetErrorLine(L"third"); });
  EXPECT_EQ("third", ItemText(window_, IDC_ERROR_LINE));
}

TEST_F(SetupDialogTest, CancelWhileWorkingThenTheWorkerCloses) {
  std::atomic<bool> saw_cancel(false);
  steered_.body = [&] {
    dialog_.SetStatusLine(L"working");
    while (!IsCancelRequested() && !release_) Sleep(10);
    saw_cancel = IsCancelRequested();
    dialog_.EnableInstallButton();
    dialog_.PostCloseCommand();
  };
  SetCancelRequested(true);  // the Install command clears it
  PostMessageA(window_, WM_COMMAND, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return ItemText(window_, IDC_STATUS_LINE) == "working"; }));
  EXPECT_FALSE(IsCancelRequested());
  EXPECT_FALSE(InstallEnabled(window_));

  // A second Install while the worker runs starts nothing.
  PostMessageA(window_, WM_COMMAND, 1, 0);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(1, steered_.runs.load());

  int quit = -1;
  SendMessageA(window_, WM_COMMAND, 2, 0);
  // The window stays until the worker has stopped and closed it.
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window_); }, 10000, &quit));
  EXPECT_TRUE(saw_cancel);
  PumpUntil([&] { return quit != -1; }, 2000, &quit);
  EXPECT_EQ(0, quit);
}

TEST_F(SetupDialogTest, CancelShowsCancellingWhileTheWorkerRuns) {
  steered_.body = [&] {
    while (!release_) Sleep(10);
  };
  PostMessageA(window_, WM_COMMAND, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return steered_.runs.load() == 1; }));
  SendMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ("Cancelling Please wait", ItemText(window_, IDC_STATUS_LINE));
  EXPECT_TRUE(IsCancelRequested());
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(SetupDialogTest, CancelWhenIdleEndsTheLoopWithZero) {
  steered_.body = [&] { dialog_.EnableInstallButton(); };
  PostMessageA(window_, WM_COMMAND, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return InstallEnabled(window_); }));
  int quit = -1;
  // The Esc key and the close box come here too.
  PostMessageA(window_, WM_COMMAND, 2, 0);
  ASSERT_TRUE(PumpUntil([&] { return quit != -1; }, 5000, &quit));
  EXPECT_EQ(0, quit);
  EXPECT_FALSE(IsWindow(window_));
}

// The program's host, with the site replaced: the fetcher copies the test
// updater, after the transfer (when set) succeeded; the drive dialog and the
// merge are the real ones.
class FakeFetcher : public UpdaterFetcher {
 public:
  bool GetCompressedFile(const char*, const char* target, TransferProgress* progress) override {
    ++calls;
    if (transfer && !transfer(progress)) return false;
    return CopyFileA((ProgramFolder() + "\\..\\support\\test_updater.exe").c_str(), target, FALSE) != FALSE;
  }
  ByteString GetCodes() override { return ByteString(); }
  bool SecureConnectionFailed() const override { return false; }
  int calls = 0;
  std::function<bool(TransferProgress*)> transfer;
};

class SiteFreeHost : public SetupHost {
 public:
  SiteFreeHost(SetupDialog& dialog, bool reachable) : SetupHost(Module(), dialog), reachable_(reachable) {}
  UpdaterFetcher* ContactSite(const char* family) override {
    family_ = family;
    return reachable_ ? &fetcher_ : nullptr;
  }
  FakeFetcher fetcher_;
  std::string family_;

 private:
  bool reachable_;
};

// The program's parts as WinMain wires them, with the site replaced.
struct Program {
  explicit Program(bool reachable) : host(dialog, reachable), sequence(host) {
    dialog.SetWorker(RunInstallSequence, &sequence);
  }
  SetupDialog dialog{Module(), nullptr};
  SiteFreeHost host;
  InstallSequence sequence;
};

class SequenceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_folder_ = ReadMachineValueBytes(SETUP_FAMILY_KEY, "InstallDir");
    log_ = scratch_.File("updater.log");
    SetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", log_.c_str());
  }
  void TearDown() override {
    if (saved_folder_ == "<absent>") {
      HKEY key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "InstallDir");
        RegCloseKey(key);
      }
    } else {
      RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", saved_folder_.c_str());
    }
    SetEnvironmentVariableA("SETUP_TEST_UPDATER_LOG", nullptr);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetCurrentDirectoryA(temp);
  }
  // Runs the sequence as the program does: Install posted, the loop pumped.
  // Returns the quit code, or -1 when the window stays after timeout_ms.
  int RunUntilClosedOrIdle(SetupDialog& dialog, DWORD timeout_ms) {
    HWND window = dialog.Create();
    EXPECT_NE(nullptr, window);
    PostMessageA(window, WM_COMMAND, 1, 0);
    int quit = -1;
    PumpUntil([&] { return quit != -1 || InstallEnabled(window); }, timeout_ms, &quit);
    PumpUntil([&] { return quit != -1; }, 500, &quit);
    return quit;
  }

  ScratchFolder scratch_;
  std::string log_;
  std::string saved_folder_;
};

TEST_F(SequenceWindowTest, UpdaterStartedThenTheWindowClosesByItself) {
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (scratch_.Path() + "\\").c_str());
  Program program(true);
  SetupDialog& dialog = program.dialog;
  SiteFreeHost& host = program.host;
  EXPECT_EQ(0, RunUntilClosedOrIdle(dialog, 20000));
  EXPECT_FALSE(IsWindow(dialog.Window()));
  EXPECT_EQ("Pellomar", host.family_);
  EXPECT_EQ(1, host.fetcher_.calls);
  // The updater writes its record as it starts, not before we close.
  ASSERT_TRUE(PumpUntil([&] { return FileExists(log_); }, 10000));
  std::string record;
  PumpUntil([&] { return (record = ReadWholeFile(log_)).find(scratch_.Path()) != std::string::npos; }, 5000);
  EXPECT_NE(std::string::npos, record.find("/Setup=Tamsu")) << record;
  EXPECT_EQ(std::string::npos, record.find("/Bulk=")) << record;
}

TEST_F(SequenceWindowTest, SiteUnreachableLeavesTheWindowIdleWithTheError) {
  Program program(false);
  SetupDialog& dialog = program.dialog;
  EXPECT_EQ(-1, RunUntilClosedOrIdle(dialog, 10000));
  HWND window = dialog.Window();
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ("Can't contact Pellomar site", ItemText(window, IDC_ERROR_LINE));
  EXPECT_EQ("", ItemText(window, IDC_STATUS_LINE));
  EXPECT_TRUE(InstallEnabled(window));
  // A new run clears the error first; the first error of that run shows.
  PostMessageA(window, WM_COMMAND, 1, 0);
  PumpUntil([] { return false; }, 500);
  EXPECT_EQ("Can't contact Pellomar site", ItemText(window, IDC_ERROR_LINE));
  int quit = -1;
  PostMessageA(window, WM_CLOSE, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return quit != -1; }, 5000, &quit));
  EXPECT_EQ(0, quit);
}

// Finds the drive dialog while this thread keeps the main window going.
HWND WaitForDriveDialog() {
  HWND found = nullptr;
  PumpUntil(
      [&] {
        found = FindWindowA("#32770", "Select Installation Drive");
        return found && IsWindowVisible(found);
      },
      30000);
  return found;
}

void ForgetInstallFolder() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, "InstallDir");
    RegCloseKey(key);
  }
}

TEST_F(SequenceWindowTest, NoStoredFolderAsksAndCancelLeavesTheWindowIdle) {
  // A stored folder that no longer exists counts as none.
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (scratch_.Path() + "\\gone\\").c_str());
  Program program(true);
  SetupDialog& dialog = program.dialog;
  SiteFreeHost& host = program.host;
  HWND window = dialog.Create();
  PostMessageA(window, WM_COMMAND, 1, 0);
  HWND drives = WaitForDriveDialog();
  ASSERT_NE(nullptr, drives);
  EXPECT_EQ("Select the drive where you want to install Tamsu", ItemText(drives, IDC_DRIVE_HEADING));
  EXPECT_EQ("Approx 2Mb Required", ItemText(drives, IDC_DRIVE_REQUIRED));
  std::string free_text = ItemText(drives, IDC_DRIVE_FREE);
  EXPECT_NE(std::string::npos, free_text.find(" Available")) << free_text;
  // The main window answers while the dialog is open.
  EXPECT_FALSE(IsHungAppWindow(window));
  EXPECT_FALSE(InstallEnabled(window));

  // Escape, as a user without a mouse cancels.
  PressKey(drives, VK_ESCAPE);
  ASSERT_TRUE(PumpUntil([&] { return InstallEnabled(window); }));
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ("", ItemText(window, IDC_STATUS_LINE));
  EXPECT_EQ("", ItemText(window, IDC_ERROR_LINE));
  EXPECT_EQ(0, host.fetcher_.calls);
  EXPECT_EQ(scratch_.Path() + "\\gone\\", RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "").Text());
}

TEST_F(SequenceWindowTest, CancelWhileTheDriveDialogIsOpenClosesTheWindowAfterIt) {
  ForgetInstallFolder();
  Program program(true);
  SetupDialog& dialog = program.dialog;
  HWND window = dialog.Create();
  PostMessageA(window, WM_COMMAND, 1, 0);
  HWND drives = WaitForDriveDialog();
  ASSERT_NE(nullptr, drives);
  SendMessageA(window, WM_COMMAND, 2, 0);
  EXPECT_EQ("Cancelling Please wait", ItemText(window, IDC_STATUS_LINE));
  EXPECT_TRUE(IsWindow(window));

  PostMessageA(drives, WM_COMMAND, IDCANCEL, 0);
  int quit = -1;
  EXPECT_TRUE(PumpUntil([&] { return quit != -1; }, 10000, &quit));
  EXPECT_EQ(0, quit);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(0, program.host.fetcher_.calls);
}

TEST_F(SequenceWindowTest, ChosenFolderIsStoredAfterTheStart) {
  ForgetInstallFolder();
  std::string program_files =
      RegGetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "C:").Text();
  std::string expected = program_files + "\\Pellomar\\";
  bool existed = IsFolder(expected);
  Program program(true);
  SetupDialog& dialog = program.dialog;
  HWND window = dialog.Create();
  PostMessageA(window, WM_COMMAND, 1, 0);
  HWND drives = WaitForDriveDialog();
  ASSERT_NE(nullptr, drives);
  if (!IsWindowEnabled(GetDlgItem(drives, IDOK))) {
    PostMessageA(drives, WM_COMMAND, IDCANCEL, 0);
    PumpUntil([&] { return InstallEnabled(window); });
    GTEST_SKIP() << "the program-files drive has too little space here";
  }
  // Enter, as a user without a mouse chooses.
  PressKey(drives, VK_RETURN);
  int quit = -1;
  EXPECT_TRUE(PumpUntil([&] { return quit != -1; }, 20000, &quit));
  EXPECT_EQ(0, quit);
  EXPECT_EQ(expected, RegGetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", "").Text());
  EXPECT_TRUE(FileExists(expected + "Update.exe"));
  PumpUntil([&] { return FileExists(log_); }, 10000);
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  SetCurrentDirectoryA(temp);
  // Leave the prefix as it was; the updater may still hold its file a moment.
  PumpUntil([&] { return DeleteFileA((expected + "Update.exe").c_str()) != FALSE; }, 5000);
  if (!existed) RemoveDirectoryA(expected.c_str());
}

// Every text the status line is given, with the time, seen by the control's
// own window procedure.
class StatusRecorder {
 public:
  struct Entry {
    DWORD at;
    std::string text;
  };
  explicit StatusRecorder(HWND window) : line_(GetDlgItem(window, IDC_STATUS_LINE)) {
    current_ = this;
    previous_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(line_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc)));
  }
  ~StatusRecorder() {
    if (IsWindow(line_)) SetWindowLongPtrA(line_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
    current_ = nullptr;
  }
  std::vector<Entry> entries;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_SETTEXT && current_)
      current_->entries.push_back({GetTickCount(), lparam ? reinterpret_cast<const char*>(lparam) : ""});
    return CallWindowProcA(previous_, window, message, wparam, lparam);
  }
  static StatusRecorder* current_;
  static WNDPROC previous_;
  HWND line_;
};
StatusRecorder* StatusRecorder::current_ = nullptr;
WNDPROC StatusRecorder::previous_ = nullptr;

const char kProgressPrefix[] = "Downloading Update ... ";

bool IsProgress(const std::string& text) { return text.compare(0, sizeof kProgressPrefix - 1, kProgressPrefix) == 0; }

// The bytes a count such as "716.79kb" stands for; -1 when it is none.
double CountOf(const char* text) {
  char* end = nullptr;
  double value = strtod(text, &end);
  for (const char* unit : {"bytes", "kb", "Mb", "Gb"}) {
    if (strncmp(end, unit, strlen(unit)) == 0) return value;
    value *= 1024;
  }
  return -1;
}

// A run's progress texts of one transfer: at least three distinct rising
// ones, no more than about eight a second of transfer_ms, then the line
// emptied. of_total ends the texts of a transfer of known size (percentages);
// empty: the texts without a size.
void ExpectRisingProgress(const std::vector<StatusRecorder::Entry>& entries, const std::string& of_total,
                          DWORD transfer_ms) {
  std::vector<size_t> shown;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& text = entries[i].text;
    bool known = text.find('%') != std::string::npos;
    if (IsProgress(text) && (of_total.empty() ? !known : text.find(of_total) != std::string::npos)) shown.push_back(i);
  }
  ASSERT_GE(shown.size(), 3u) << "progress texts shown";
  EXPECT_LE(shown.size(), transfer_ms / 125 + 2) << "over " << transfer_ms << " ms";
  int distinct_percents = 1;
  for (size_t k = 1; k < shown.size(); ++k) {
    const StatusRecorder::Entry& before = entries[shown[k - 1]];
    const StatusRecorder::Entry& now = entries[shown[k]];
    // An eighth of a second apart, less what a busy window's thread may lag.
    EXPECT_GE(now.at - before.at, 80u) << before.text << " then " << now.text;
    const char* before_count = before.text.c_str() + sizeof kProgressPrefix - 1;
    const char* now_count = now.text.c_str() + sizeof kProgressPrefix - 1;
    if (!of_total.empty()) {
      int before_percent = atoi(before_count), now_percent = atoi(now_count);
      EXPECT_GE(now_percent, before_percent) << now.text;
      if (now_percent > before_percent) ++distinct_percents;
      before_count = strchr(before_count, '(') + 1;
      now_count = strchr(now_count, '(') + 1;
    }
    EXPECT_GT(CountOf(now_count), CountOf(before_count)) << before.text << " then " << now.text;
  }
  if (!of_total.empty()) {
    EXPECT_GE(distinct_percents, 3);
  }
  ASSERT_LT(shown.back() + 1, entries.size()) << "the line was not emptied after the transfer";
  EXPECT_EQ("", entries[shown.back() + 1].text);
}

TEST_F(SequenceWindowTest, DownloadProgressRisesAtMostEightTimesASecondThenTheLineEmpties) {
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (scratch_.Path() + "\\").c_str());
  const uint64_t total = 3 * 1024 * 1024;
  for (bool known : {true, false}) {
    SCOPED_TRACE(known ? "size known" : "size unknown");
    Program program(true);
    // 3 MiB in 20 KiB reads, one every 10 ms or so.
    program.host.fetcher_.transfer = [&](TransferProgress* progress) {
      if (!progress) return false;
      for (uint64_t done = 20 * 1024; done <= total; done += 20 * 1024) {
        progress->Report(done, known ? total : 0);
        Sleep(10);
      }
      return true;
    };
    HWND window = program.dialog.Create();
    ASSERT_NE(nullptr, window);
    StatusRecorder recorder(window);
    DWORD started = GetTickCount();
    PostMessageA(window, WM_COMMAND, 1, 0);
    int quit = -1;
    ASSERT_TRUE(PumpUntil([&] { return quit != -1; }, 20000, &quit)) << "the window did not close";
    ExpectRisingProgress(recorder.entries, known ? " of 3.00Mb)" : "", GetTickCount() - started);
    // The install went on as before: the updater started.
    EXPECT_TRUE(PumpUntil([&] { return FileExists(log_); }, 10000));
    std::string updater = scratch_.File("Update.exe");
    ASSERT_TRUE(PumpUntil([&] { return DeleteFileA(updater.c_str()) != FALSE; }, 5000));
    DeleteFileA(log_.c_str());
  }
}

TEST_F(SequenceWindowTest, CancelDuringTheDownloadKeepsItsTextAndClosesTheWindow) {
  RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (scratch_.Path() + "\\").c_str());
  Program program(true);
  // Reports as a read loop does, and stops as one does once cancelled.
  program.host.fetcher_.transfer = [](TransferProgress* progress) {
    for (uint64_t done = 4096; progress && !IsCancelRequested(); done += 4096) {
      progress->Report(done, 0);
      Sleep(2);
    }
    return false;
  };
  HWND window = program.dialog.Create();
  ASSERT_NE(nullptr, window);
  StatusRecorder recorder(window);
  PostMessageA(window, WM_COMMAND, 1, 0);
  auto progress_count = [&] {
    size_t n = 0;
    for (const StatusRecorder::Entry& e : recorder.entries) n += IsProgress(e.text);
    return n;
  };
  ASSERT_TRUE(PumpUntil([&] { return progress_count() >= 3; }));
  DWORD cancelled = GetTickCount();
  SendMessageA(window, WM_COMMAND, 2, 0);
  int quit = -1;
  ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 5000, &quit));
  EXPECT_LT(GetTickCount() - cancelled, 1000u);

  size_t at = 0;
  while (at < recorder.entries.size() && recorder.entries[at].text != "Cancelling Please wait") ++at;
  ASSERT_LT(at, recorder.entries.size());
  for (size_t i = at; i < recorder.entries.size(); ++i)
    EXPECT_FALSE(IsProgress(recorder.entries[i].text)) << "after Cancel: " << recorder.entries[i].text;
  EXPECT_EQ("", recorder.entries.back().text);
  EXPECT_FALSE(FileExists(scratch_.File("Update.exe")));
  EXPECT_FALSE(FileExists(log_));
}

// The program as WinMain wires it, its host table pointed at loopback
// servers: the site with its gateway on one, the download area on another.
struct RealProgram {
  RealProgram() : host(Module(), dialog), sequence(host) { dialog.SetWorker(RunInstallSequence, &sequence); }
  SetupDialog dialog{Module(), nullptr};
  SetupHost host;
  InstallSequence sequence;
};

class LoopbackSiteWindowTest : public SequenceWindowTest {
 protected:
  void SetUp() override {
    SequenceWindowTest::SetUp();
    static int next = 1;
    site_.reset(new HttpTestServer(61, next));
    area_.reset(new HttpTestServer(61, next + 1));
    next += 2;
    ASSERT_TRUE(site_->Ok() && area_->Ok());
    host_ = site_->Address();
    for (const char*& name : hosts_) name = host_.c_str();
    SetKnownHostsForTesting(hosts_, hosts_);
    site_->ServeFile("/secure/test_pattern.txt", "qestorvilanumedra");
    site_->ServeFile("/secure/gateway_new.php", area_->BaseUrl() + "/pub/");
    area_->ServeFile("/pub/test_pattern.txt", "qestorvilanumedra");
    RegSetString(HKEY_LOCAL_MACHINE, SETUP_FAMILY_KEY, "InstallDir", (scratch_.Path() + "\\").c_str());
    // The lengthened updater no longer matches its signature; the check is
    // not what these runs are about.
    policy_ = UpdaterPolicy();
    SetUpdaterPolicyForTesting(SignerPolicy{"", "", ""});
  }
  void TearDown() override {
    SetUpdaterPolicyForTesting(policy_);
    SetKnownHostsForTesting(nullptr, nullptr);
    SequenceWindowTest::TearDown();
  }
  // The test updater made 3 MiB long (a program runs with data after its
  // image) and served as the plain copy in 24 chunks over about 3 seconds;
  // the cabinet is missing.
  std::string ServeSlowUpdater(bool with_length) {
    std::string updater = ReadWholeFile(ProgramFolder() + "\\..\\support\\test_updater.exe");
    EXPECT_FALSE(updater.empty());
    updater.resize(3 * 1024 * 1024, '\0');
    std::vector<std::string> chunks = {"HTTP/1.1 200 OK\r\n" +
                                       (with_length ? "Content-Length: " + std::to_string(updater.size()) + "\r\n"
                                                    : std::string()) +
                                       "Connection: close\r\n\r\n"};
    const size_t piece = updater.size() / 24;
    for (size_t at = 0; at < updater.size(); at += piece) chunks.push_back(updater.substr(at, piece));
    area_->ServePath("/pub/Update.exe_uncompressed", HttpReply::Chunks(chunks, 125));
    return updater;
  }
  // Whether the plain copy was asked for after the first `after` requests.
  bool UpdaterAsked(size_t after) {
    std::vector<std::string> targets = area_->Targets();
    for (size_t i = after; i < targets.size(); ++i)
      if (targets[i].find("/pub/Update.exe_uncompressed") == 0) return true;
    return false;
  }

  std::unique_ptr<HttpTestServer> site_, area_;
  std::string host_;
  const char* hosts_[4];
  SignerPolicy policy_ = {"", "", ""};
};

TEST_F(LoopbackSiteWindowTest, DownloadShowsRisingProgressThenInstalls) {
  for (bool with_length : {true, false}) {
    SCOPED_TRACE(with_length ? "with Content-Length" : "without Content-Length");
    std::string updater = ServeSlowUpdater(with_length);
    RealProgram program;
    HWND window = program.dialog.Create();
    ASSERT_NE(nullptr, window);
    StatusRecorder recorder(window);
    PostMessageA(window, WM_COMMAND, 1, 0);
    int quit = -1;
    ASSERT_TRUE(PumpUntil([&] { return quit != -1; }, 60000, &quit)) << "the window did not close";
    DWORD transfer_ms = 0;
    for (const StatusRecorder::Entry& e : recorder.entries)
      if (IsProgress(e.text)) transfer_ms = e.at - recorder.entries.front().at;
    ExpectRisingProgress(recorder.entries, with_length ? " of 3.00Mb)" : "", transfer_ms + 250);
    EXPECT_TRUE(PumpUntil([&] { return FileExists(log_); }, 10000)) << "the updater was not started";
    EXPECT_TRUE(ReadWholeFile(scratch_.File("Update.exe")) == updater);
    std::string installed = scratch_.File("Update.exe");
    ASSERT_TRUE(PumpUntil([&] { return DeleteFileA(installed.c_str()) != FALSE; }, 5000));
    DeleteFileA(log_.c_str());
  }
}

TEST_F(LoopbackSiteWindowTest, CancelOneSecondIntoTheDownloadClosesTheWindowWithinASecondOnEachTransport) {
  ServeSlowUpdater(true);
  // Each row makes one more transport fail the download area's connection
  // test: WinInet names itself in its requests, the socket transport sends
  // the whole URL.
  const struct {
    const char* transport;
    const char* refuse;
  } rows[] = {{"WinInet", nullptr}, {"Socket", "Quorvale Connection"}, {"URLDownLoad", "GET http://"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.transport);
    if (row.refuse) area_->RefuseRequestsContaining(row.refuse);
    size_t asked_before = area_->Targets().size();
    RealProgram program;
    HWND window = program.dialog.Create();
    ASSERT_NE(nullptr, window);
    PostMessageA(window, WM_COMMAND, 1, 0);
    ASSERT_TRUE(PumpUntil([&] { return UpdaterAsked(asked_before); }, 30000));
    PumpUntil([] { return false; }, 1000);
    DWORD cancelled = GetTickCount();
    SendMessageA(window, WM_COMMAND, 2, 0);
    int quit = -1;
    ASSERT_TRUE(PumpUntil([&] { return !IsWindow(window); }, 60000, &quit));
    DWORD latency = GetTickCount() - cancelled;
    EXPECT_LT(latency, 1000u);
    printf("%s download cancel latency: %u ms\n", row.transport, static_cast<unsigned>(latency));
    for (const char* left : {"http_tmp1.tmp", "http_tmp2.tmp", "NewUpdate.exe", "Update.exe"})
      EXPECT_FALSE(FileExists(scratch_.File(left))) << left;
    EXPECT_FALSE(FileExists(log_));
    // The plain copy was asked by this row's transport.
    std::string request;
    for (const std::string& r : area_->Requests())
      if (r.find("/pub/Update.exe_uncompressed") != std::string::npos) request = r;
    bool wininet = request.find("Quorvale Connection") != std::string::npos;
    bool socket = request.find("GET http://") == 0;
    EXPECT_EQ(std::string(row.transport), wininet ? "WinInet" : socket ? "Socket" : "URLDownLoad") << request;
  }
}

TEST_F(LoopbackSiteWindowTest, CancelDuringAContactWithASilentServerIdlesWithinASecond) {
  site_->SetScript(HttpReply::NeverAnswer());
  RealProgram program;
  HWND window = program.dialog.Create();
  ASSERT_NE(nullptr, window);
  PostMessageA(window, WM_COMMAND, 1, 0);
  ASSERT_TRUE(PumpUntil([&] { return site_->ConnectionCount() > 0; }, 10000));
  PumpUntil([] { return false; }, 1000);
  DWORD cancelled = GetTickCount();
  SendMessageA(window, WM_COMMAND, 2, 0);
  ASSERT_TRUE(PumpUntil([&] { return InstallEnabled(window); }, 120000));
  DWORD latency = GetTickCount() - cancelled;
  EXPECT_LT(latency, 1000u);
  printf("contact cancel latency: %u ms\n", static_cast<unsigned>(latency));
  // The cancelled contact's end: the window stays, the text in the status line.
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ("Can't contact Pellomar site", ItemText(window, IDC_STATUS_LINE));
  EXPECT_EQ("", ItemText(window, IDC_ERROR_LINE));
  int quit = -1;
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(PumpUntil([&] { return quit != -1; }, 5000, &quit));
}

}  // namespace
