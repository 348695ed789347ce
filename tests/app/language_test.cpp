// The user's language as the user's system chooses it: each run has the
// locale of one row of the bench's window table (tests/support/window-table.sh),
// whose window tests check the mirroring of both windows.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <thread>

#include "app/drive_dialog.h"
#include "app/setup_dialog.h"
#include "base/ui_language.h"
#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

namespace {

struct Row {
  const char* language;  // LANG's first letters
  const wchar_t* title;
  const wchar_t* drive_title;
  const wchar_t* short_of_space;  // the numbers stay, the words are the language's
};
const Row kRows[] = {
    {"en", L"Tamsu Setup", L"Select Installation Drive", L"Only 0bytes Available"},
    {"de", L"Tamsu Setup", L"Installationslaufwerk w\x00e4hlen", L"Nur 0bytes verf\x00fcgbar"},
    {"ja", L"Tamsu \x30bb\x30c3\x30c8\x30a2\x30c3\x30d7",
     L"\x30a4\x30f3\x30b9\x30c8\x30fc\x30eb\x5148\x30c9\x30e9\x30a4\x30d6\x306e\x9078\x629e",
     L"\x7a7a\x304d\x5bb9\x91cf\x306f 0bytes \x306e\x307f"},
    {"ar", L"\x0625\x0639\x062f\x0627\x062f Tamsu",
     L"\x0627\x062e\x062a\x064a\x0627\x0631 \x0645\x062d\x0631\x0643 \x0627\x0644\x0623\x0642\x0631\x0627\x0635 "
     L"\x0644\x0644\x062a\x062b\x0628\x064a\x062a",
     L"\x0627\x0644\x0645\x062a\x0627\x062d 0bytes \x0641\x0642\x0637"},
};

uint64_t NoSpace(char) { return 0; }

TEST(Language, TheWindowSpeaksTheUsersLanguage) {
  char lang[32] = "";
  GetEnvironmentVariableA("LANG", lang, sizeof lang);
  const Row* row = nullptr;
  for (const Row& r : kRows) {
    if (strncmp(lang, r.language, strlen(r.language)) == 0) row = &r;
  }
  ASSERT_NE(nullptr, row) << "no row for LANG=" << lang;

  UseUiLanguage();
  SetupDialog dialog(GetModuleHandleW(nullptr), nullptr);
  HWND window = dialog.Create();
  ASSERT_NE(nullptr, window);
  wchar_t text[512];
  GetWindowTextW(window, text, 512);
  EXPECT_STREQ(row->title, text);
  // The lines read in the language's direction.
  EXPECT_EQ(testing_support::ExpectedRightToLeft(),
            (GetWindowLongPtrW(GetDlgItem(window, IDC_STATUS_LINE), GWL_EXSTYLE) & WS_EX_RTLREADING) != 0);
  // The names are filled in, whole, and no mark is left.
  GetDlgItemTextW(window, IDC_THANKS, text, 512);
  EXPECT_NE(nullptr, wcsstr(text, L"Tamsu")) << "thank-you text";
  for (const wchar_t* p = text; *p; ++p) EXPECT_TRUE(*p >= 0x20 || *p == L'\r' || *p == L'\n') << "mark left";
  DestroyWindow(window);

  // The drive dialog: its title, and the free-space line of a full drive.
  std::thread worker([] { DriveDialog(GetModuleHandleW(nullptr), NoSpace).Run(); });
  HWND drives = nullptr;
  for (DWORD start = GetTickCount(); !drives && GetTickCount() - start < 30000; Sleep(50)) {
    HWND found = FindWindowW(L"#32770", row->drive_title);
    if (found && IsWindowVisible(found)) drives = found;
  }
  EXPECT_NE(nullptr, drives) << "no drive dialog with the language's title";
  if (drives) {
    GetDlgItemTextW(drives, IDC_DRIVE_FREE, text, 512);
    EXPECT_STREQ(row->short_of_space, text);
    PostMessageW(drives, WM_COMMAND, IDCANCEL, 0);
  }
  worker.join();
}

}  // namespace
