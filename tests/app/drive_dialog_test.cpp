// The drive dialog on a thread of its own, driven from the test's thread the
// way a user would: texts, free space, the OK rules and the folder result.
#include "app/drive_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/install_folder.h"
#include "app/setup_dialog.h"
#include "base/diagnostic_log.h"
#include "base/registry.h"
#include "base/ui_language.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"
#include "transport/proxy_login_dialog.h"

using namespace testing_support;

namespace {

const char kVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

uint64_t g_free[26];
DWORD g_drives;
DWORD WINAPI FakeDrives() { return g_drives; }
uint64_t FakeFreeSpace(char letter) { return letter >= 'A' && letter <= 'Z' ? g_free[letter - 'A'] : 0; }

std::string Text(HWND window, int id) {
  char text[512] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

std::vector<std::string> Entries(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
  std::vector<std::string> entries;
  LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[256] = "";
    SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    entries.push_back(text);
  }
  return entries;
}

int Selected(HWND dialog) { return static_cast<int>(SendDlgItemMessageA(dialog, IDC_DRIVE_LIST, CB_GETCURSEL, 0, 0)); }

// Picks the entry of letter as a user would, with the change notification.
bool Pick(HWND dialog, char letter) {
  std::vector<std::string> entries = Entries(dialog);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (UpperLetter(entries[i][0]) == letter) {
      HWND list = GetDlgItem(dialog, IDC_DRIVE_LIST);
      SendMessageA(list, CB_SETCURSEL, i, 0);
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DRIVE_LIST, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
      return true;
    }
  }
  return false;
}

bool FreeTextIsRed(HWND dialog) {
  HDC dc = CreateCompatibleDC(nullptr);
  SetTextColor(dc, RGB(1, 2, 3));
  LRESULT brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_DRIVE_FREE)));
  bool red = GetTextColor(dc) == RGB(255, 0, 0) && GetBkMode(dc) == TRANSPARENT &&
             brush == reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  DeleteDC(dc);
  return red;
}

bool OkEnabled(HWND dialog) { return IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE; }

bool FocusBecomes(HWND window, HWND expected) {
  DWORD start = GetTickCount();
  while (FocusOf(window) != expected && GetTickCount() - start < 5000) Sleep(20);
  return FocusOf(window) == expected;
}

struct Counted {
  DWORD pid;
  int count;
};

// Top-level dialogs of this process: the drive dialog and its hidden donor.
int OwnDialogs() {
  Counted counted = {GetCurrentProcessId(), 0};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        Counted* c = reinterpret_cast<Counted*>(data);
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (pid == c->pid && strcmp(name, "#32770") == 0) ++c->count;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&counted));
  return counted.count;
}

class DriveDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the program starts: a language written right to left mirrors.
    UseUiLanguage();
    saved_ = ReadMachineValueBytes(kVersionKey, "ProgramFilesDir");
    for (uint64_t& f : g_free) f = 0;
  }
  void TearDown() override {
    if (worker_.joinable()) {
      if (window_) PostMessageA(window_, WM_COMMAND, IDCANCEL, 0);
      worker_.join();
    }
    if (saved_ == "<absent>") {
      SetProgramFiles(nullptr);
    } else {
      RegSetString(HKEY_LOCAL_MACHINE, kVersionKey, "ProgramFilesDir", saved_.c_str());
    }
  }
  static void SetProgramFiles(const char* value) {
    if (value) {
      RegSetString(HKEY_LOCAL_MACHINE, kVersionKey, "ProgramFilesDir", value);
      return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "ProgramFilesDir");
      RegCloseKey(key);
    }
  }
  // Starts the dialog and waits until it shows; the dialog window.
  HWND Open() {
    worker_ = std::thread([this] {
      DriveDialog dialog(GetModuleHandleA(nullptr), FakeFreeSpace, drive_mask_);
      result_ = dialog.Run();
      folder_ = dialog.Folder();
    });
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 30000) {
      HWND found = FindWindowW(L"#32770", UiLine(kUiDriveTitle).Text());
      if (found && IsWindowVisible(found)) {
        opened_ms_ = GetTickCount() - start;
        return window_ = found;
      }
      Sleep(50);
    }
    return nullptr;
  }
  // Presses a button and waits for the dialog to end.
  void Press(int id) {
    PostMessageA(window_, WM_COMMAND, id, 0);
    worker_.join();
    window_ = nullptr;
  }

  std::string saved_;
  DriveList::DriveMaskFunction drive_mask_ = GetLogicalDrives;
  std::thread worker_;
  HWND window_ = nullptr;
  std::atomic<int> result_{0};
  std::string folder_;
  DWORD opened_ms_ = 0;
};

TEST_F(DriveDialogTest, TextsEntriesAndTheSpaceThreshold) {
  ScratchFolder scratch;
  std::string log = scratch.File("log.txt");
  HANDLE sink = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  LogSetSink(sink);
  SetProgramFiles("C:\\Program Files");
  g_free['C' - 'A'] = 52969471;
  g_free['Z' - 'A'] = 52969472;
  ASSERT_NE(nullptr, Open());
  // Filled well within the donor's bound.
  EXPECT_LT(opened_ms_, 12000u);
  LogSetSink(INVALID_HANDLE_VALUE);
  CloseHandle(sink);
  // Where the entries came from depends on the platform's file dialog.
  std::string source = ReadWholeFile(log);
  EXPECT_NE(std::string::npos, source.find("Drive list ")) << source;
  printf("%s", source.c_str());
  EXPECT_EQ("Select the drive where you want to install Tamsu", Text(window_, IDC_DRIVE_HEADING));
  EXPECT_EQ("Approx 2Mb Required", Text(window_, IDC_DRIVE_REQUIRED));

  // One entry per drive, each beginning with its letter, in drive order.
  std::vector<std::string> entries = Entries(window_);
  DWORD drives = GetLogicalDrives();
  std::string letters;
  for (int i = 0; i < 26; ++i) {
    if (drives & (1u << i)) letters += static_cast<char>('A' + i);
  }
  std::string seen;
  for (const std::string& e : entries) seen += UpperLetter(e[0]);
  EXPECT_EQ(letters, seen);

  // Drive C is selected: one byte short.
  ASSERT_GE(Selected(window_), 0);
  EXPECT_EQ('C', UpperLetter(entries[Selected(window_)][0]));
  EXPECT_EQ("Only 50.51Mb Available", Text(window_, IDC_DRIVE_FREE));
  EXPECT_FALSE(OkEnabled(window_));
  EXPECT_TRUE(FreeTextIsRed(window_));
  // Enter while OK is disabled chooses nothing.
  SendMessageA(window_, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(IsWindow(window_));

  // Another drive with just enough: updated at once.
  ASSERT_TRUE(Pick(window_, 'Z'));
  EXPECT_EQ("50.51Mb Available", Text(window_, IDC_DRIVE_FREE));
  EXPECT_TRUE(OkEnabled(window_));
  EXPECT_FALSE(FreeTextIsRed(window_));

  // A drive whose space cannot be read counts as none.
  g_free['C' - 'A'] = 0;
  ASSERT_TRUE(Pick(window_, 'C'));
  EXPECT_EQ("Only 0bytes Available", Text(window_, IDC_DRIVE_FREE));
  EXPECT_FALSE(OkEnabled(window_));

  g_free['C' - 'A'] = 3221225472ULL;
  ASSERT_TRUE(Pick(window_, 'C'));
  EXPECT_EQ("3.00Gb Available", Text(window_, IDC_DRIVE_FREE));
  Press(IDCANCEL);
  EXPECT_EQ(2, result_.load());
}

TEST_F(DriveDialogTest, ProgramFilesDriveKept) {
  SetProgramFiles("C:\\Program Files");
  g_free['C' - 'A'] = 1ULL << 40;
  ASSERT_NE(nullptr, Open());
  Press(IDOK);
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ("C:\\Program Files\\Pellomar\\", folder_);
}

TEST_F(DriveDialogTest, AnotherDriveGivesItsRoot) {
  SetProgramFiles("C:\\Program Files");
  g_free['Z' - 'A'] = 1ULL << 40;
  ASSERT_NE(nullptr, Open());
  ASSERT_TRUE(Pick(window_, 'Z'));
  Press(IDOK);
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ("Z:\\Pellomar\\", folder_);
}

TEST_F(DriveDialogTest, NoProgramFilesValue) {
  SetProgramFiles(nullptr);
  g_free['C' - 'A'] = 1ULL << 40;
  ASSERT_NE(nullptr, Open());
  EXPECT_EQ('C', UpperLetter(Entries(window_)[Selected(window_)][0]));
  Press(IDOK);
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ("C:\\Pellomar\\", folder_);
}

TEST_F(DriveDialogTest, EmptyProgramFilesSelectsTheSecondEntry) {
  SetProgramFiles("");
  for (uint64_t& f : g_free) f = 1ULL << 40;
  ASSERT_NE(nullptr, Open());
  std::vector<std::string> entries = Entries(window_);
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(1, Selected(window_));
  Press(IDOK);
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ(std::string(1, UpperLetter(entries[1][0])) + ":\\Pellomar\\", folder_);
}

// Also a row of the bench's language and DPI table
// (tests/support/window-table.sh): at the row's DPI no text is cut, the
// longest free-space text included, and the keyboard alone gets through:
// the drive list has the focus first, Tab goes in reading order, Enter is OK
// (Escape: SequenceWindowTest.NoStoredFolderAsksAndCancelLeavesTheWindowIdle).
TEST_F(DriveDialogTest, KeyboardAloneAndNoTextIsCut) {
  ExpectBenchLocale();
  SetProgramFiles("C:\\Program Files");
  g_drives = 1u << ('C' - 'A') | 1u << ('Z' - 'A');
  drive_mask_ = FakeDrives;
  g_free['C' - 'A'] = 1ULL << 40;
  g_free['Z' - 'A'] = kRequiredFreeBytes - 1;  // too little: the longer text
  ASSERT_NE(nullptr, Open());
  EXPECT_EQ(ExpectedDpi(), WindowDpi(window_));
  EXPECT_EQ(ExpectedRightToLeft(), (GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0);
  EXPECT_EQ("", CutTexts(window_));
  ASSERT_TRUE(Pick(window_, 'Z'));
  EXPECT_FALSE(OkEnabled(window_));
  EXPECT_EQ("", CutTexts(window_));
  ASSERT_TRUE(Pick(window_, 'C'));

  HWND list = GetDlgItem(window_, IDC_DRIVE_LIST);
  EXPECT_TRUE(FocusBecomes(window_, list));
  for (HWND next : {GetDlgItem(window_, IDOK), GetDlgItem(window_, IDCANCEL), list}) {
    PressKey(window_, VK_TAB);
    EXPECT_TRUE(FocusBecomes(window_, next)) << GetDlgCtrlID(FocusOf(window_));
  }
  PressKey(window_, VK_RETURN);
  worker_.join();
  window_ = nullptr;
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ("C:\\Program Files\\Pellomar\\", folder_);
}

// The socket transport's proxy prompt, in the same rows: no label cut, the
// title within its caption beside the close box, mirrored when the language
// is written right to left, Tab in reading order (each field right after its
// label) and Escape cancels.
TEST_F(DriveDialogTest, ProxyPromptReadsInOrderAndNoTextIsCut) {
  ExpectBenchLocale();
  ByteString user, password;
  worker_ = std::thread([&] { result_ = ShowProxyLoginDialog(&user, &password, nullptr); });
  UiLine title(kUiProxyTitle);
  for (DWORD start = GetTickCount(); !window_ && GetTickCount() - start < 30000; Sleep(50)) {
    HWND found = FindWindowW(L"#32770", title.Text());
    if (found && IsWindowVisible(found)) window_ = found;
  }
  ASSERT_NE(nullptr, window_);
  EXPECT_EQ(ExpectedDpi(), WindowDpi(window_));
  EXPECT_EQ(ExpectedRightToLeft(), (GetWindowLongPtrW(window_, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0);
  EXPECT_EQ("", CutTexts(window_));

  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  HFONT caption = CreateFontIndirectW(&metrics.lfCaptionFont);
  HDC dc = GetDC(window_);
  HGDIOBJ old = SelectObject(dc, caption);
  SIZE title_size = {};
  GetTextExtentPoint32W(dc, title.Text(), lstrlenW(title.Text()), &title_size);
  SelectObject(dc, old);
  ReleaseDC(window_, dc);
  DeleteObject(caption);
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_LE(title_size.cx + 2 * GetSystemMetrics(SM_CXSIZE), client.right) << title_size.cx << " " << client.right;

  HWND name = GetDlgItem(window_, kProxyUserEdit);
  EXPECT_TRUE(FocusBecomes(window_, name));
  for (int next : {int{kProxyPasswordEdit}, IDOK, IDCANCEL, int{kProxyUserEdit}}) {
    PressKey(window_, VK_TAB);
    EXPECT_TRUE(FocusBecomes(window_, GetDlgItem(window_, next))) << GetDlgCtrlID(FocusOf(window_));
  }
  PressKey(window_, VK_ESCAPE);
  worker_.join();
  window_ = nullptr;
  EXPECT_EQ(0, result_.load());
  EXPECT_FALSE(user.IsPresent());
}

TEST_F(DriveDialogTest, CancelAndTheHiddenDialogEnds) {
  ASSERT_NE(nullptr, Open());
  EXPECT_GE(OwnDialogs(), 1);
  Press(IDCANCEL);
  EXPECT_EQ(2, result_.load());
  // Neither the drive dialog nor the borrowed file dialog stays behind.
  DWORD start = GetTickCount();
  while (OwnDialogs() != 0 && GetTickCount() - start < 5000) Sleep(50);
  EXPECT_EQ(0, OwnDialogs());
}

// Wine's classic file dialog lists drives as "[-c-]", which names no drive
// first: the list then comes from the system's enumeration, given here.
TEST_F(DriveDialogTest, OneDriveIsUsedWhateverTheFolder) {
  SetProgramFiles("");
  g_drives = 1u << ('C' - 'A');
  drive_mask_ = FakeDrives;
  g_free['C' - 'A'] = 1ULL << 40;
  ASSERT_NE(nullptr, Open());
  std::vector<std::string> entries = Entries(window_);
  ASSERT_EQ(1u, entries.size());
  EXPECT_EQ(0, Selected(window_));
  EXPECT_EQ("1024.00Gb Available", Text(window_, IDC_DRIVE_FREE));
  Press(IDOK);
  EXPECT_EQ(1, result_.load());
  EXPECT_EQ("C:\\Pellomar\\", folder_);
}

TEST_F(DriveDialogTest, NoDrivesKeepsOkDisabled) {
  g_drives = 0;
  drive_mask_ = FakeDrives;
  ASSERT_NE(nullptr, Open());
  EXPECT_TRUE(Entries(window_).empty());
  EXPECT_EQ("Only 0bytes Available", Text(window_, IDC_DRIVE_FREE));
  EXPECT_FALSE(OkEnabled(window_));
  SendMessageA(window_, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(IsWindow(window_));
  Press(IDCANCEL);
  EXPECT_EQ(2, result_.load());
}

TEST_F(DriveDialogTest, EntriesDrawnWithAGlyphAndTheirText) {
  g_drives = (1u << ('C' - 'A')) | (1u << ('D' - 'A'));
  drive_mask_ = FakeDrives;
  ASSERT_NE(nullptr, Open());
  HWND list = GetDlgItem(window_, IDC_DRIVE_LIST);
  const int w = 120, h = 18;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP surface = CreateBitmap(w, h, 1, 32, nullptr);
  HGDIOBJ old = SelectObject(dc, surface);
  RECT all = {0, 0, w, h};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DRAWITEMSTRUCT item = {};
  item.CtlType = ODT_COMBOBOX;
  item.CtlID = IDC_DRIVE_LIST;
  item.itemID = 1;
  item.itemAction = ODA_DRAWENTIRE;
  item.hwndItem = list;
  item.hDC = dc;
  item.rcItem = all;
  item.itemData = SendMessageA(list, CB_GETITEMDATA, 1, 0);
  SendMessageA(window_, WM_DRAWITEM, IDC_DRIVE_LIST, reinterpret_cast<LPARAM>(&item));
  COLORREF window_colour = GetSysColor(COLOR_WINDOW);
  int frame = 0, text = 0, background = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      COLORREF c = GetPixel(dc, x, y);
      if (c == RGB(64, 64, 64)) ++frame;
      if (c == window_colour) ++background;
      if (x > 20 && c != window_colour) ++text;
    }
  }
  EXPECT_GT(frame, 10);  // the drive glyph
  EXPECT_GT(text, 10);   // "d:" after it
  EXPECT_GT(background, w * h / 2);
  SelectObject(dc, old);
  DeleteObject(surface);
  DeleteDC(dc);
  Press(IDCANCEL);
}

TEST(FreeSpaceOf, ReadsTheSystemDrive) {
  char windows[MAX_PATH];
  ASSERT_NE(0u, GetWindowsDirectoryA(windows, sizeof windows));
  ULARGE_INTEGER available, total, free;
  char root[4] = {windows[0], ':', '\\', 0};
  ASSERT_TRUE(GetDiskFreeSpaceExA(root, &available, &total, &free));
  uint64_t reported = FreeSpaceOf(windows[0]);
  // Free space moves while we look; within a few megabytes of the system's.
  uint64_t difference = reported > available.QuadPart ? reported - available.QuadPart : available.QuadPart - reported;
  EXPECT_GT(reported, 0u);
  EXPECT_LT(difference, 64ULL << 20);
  // A drive that is not there has none.
  DWORD drives = GetLogicalDrives();
  for (int i = 25; i >= 0; --i) {
    if (!(drives & (1u << i))) {
      EXPECT_EQ(0u, FreeSpaceOf(static_cast<char>('A' + i)));
      break;
    }
  }
}

}  // namespace
