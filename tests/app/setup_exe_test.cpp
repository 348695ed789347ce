// The program itself, started as a user would, against a loopback site that
// never answers or answers nothing useful: its window, its lines and how
// Cancel and the close box end it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

struct Found {
  DWORD pid;
  HWND window;
};

HWND WindowOf(DWORD pid) {
  Found found = {pid, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        Found* f = reinterpret_cast<Found*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char title[64] = "";
        GetWindowTextA(window, title, sizeof title);
        if (owner == f->pid && strcmp(title, "Tamsu Setup") == 0 && IsWindowVisible(window)) {
          f->window = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.window;
}

std::string Line(HWND window, int id) {
  char text[256] = "";
  GetDlgItemTextA(window, id, text, sizeof text);
  return text;
}

// Setup.exe with its host table on this test's loopback addresses.
class RunningSetup {
 public:
  explicit RunningSetup(const std::string& site_address) {
    std::string addresses = site_address + "," + TestAddress(60, 3);
    SetEnvironmentVariableA("SETUP_E2E_ADDRESSES", addresses.c_str());
    std::string program = ProgramFolder() + "\\setup_app_driven.exe";
    std::string command = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                              ProgramFolder().c_str(), &startup, &process_) != FALSE;
    SetEnvironmentVariableA("SETUP_E2E_ADDRESSES", nullptr);
  }
  ~RunningSetup() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  bool Started() const { return started_; }
  HWND Window(DWORD timeout_ms = 20000) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout_ms) {
      if (HWND w = WindowOf(process_.dwProcessId)) return w;
      Sleep(50);
    }
    return nullptr;
  }
  // The exit code, or -1 while it runs after timeout_ms.
  int WaitExit(DWORD timeout_ms) {
    if (WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_ = {};
};

// Waits until the line of id reads text; the texts seen meanwhile go to seen.
bool WaitForLine(HWND window, int id, const std::string& text, DWORD timeout_ms,
                 std::vector<std::string>* seen = nullptr) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeout_ms) {
    std::string now = Line(window, id);
    if (seen && (seen->empty() || seen->back() != now)) seen->push_back(now);
    if (now == text) return true;
    Sleep(10);
  }
  return false;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& t : texts) all += "[" + t + "]";
  return all;
}

TEST(SetupExe, CancelWhileContactingThenWhenIdle) {
  auto site = std::make_unique<HttpTestServer>(60, 1);
  ASSERT_TRUE(site->Ok());
  site->SetScript(HttpReply::NeverAnswer());
  RunningSetup setup(site->Address());
  ASSERT_TRUE(setup.Started());
  HWND window = setup.Window();
  ASSERT_NE(nullptr, window);

  // Working at once, without a click.
  std::vector<std::string> seen;
  ASSERT_TRUE(WaitForLine(window, IDC_STATUS_LINE, "Contacting Pellomar site. Please wait ...", 10000, &seen))
      << Joined(seen);
  ASSERT_TRUE(site->WaitForConnections(1, 10000));

  // The layout for the measured line height.
  RECT status, error, client;
  GetWindowRect(GetDlgItem(window, IDC_STATUS_LINE), &status);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&status), 2);
  GetWindowRect(GetDlgItem(window, IDC_ERROR_LINE), &error);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&error), 2);
  GetClientRect(window, &client);
  int h = status.bottom - status.top;
  EXPECT_EQ(10, status.left);
  EXPECT_EQ(195, status.top);
  EXPECT_EQ(195 + h, error.top);
  EXPECT_EQ(300, client.right);
  EXPECT_EQ(199 + 2 * h, client.bottom);

  // Cancel while working: the window stays until the worker stops.
  PostMessageA(window, WM_COMMAND, 2, 0);
  EXPECT_TRUE(WaitForLine(window, IDC_STATUS_LINE, "Cancelling Please wait", 5000));
  EXPECT_EQ(-1, setup.WaitExit(1000));
  EXPECT_TRUE(IsWindow(window));

  // The site goes away: the contact fails, and with the cancel flag set the
  // message shows in the status line; the window stays, idle.
  site.reset();
  ASSERT_TRUE(WaitForLine(window, IDC_STATUS_LINE, "Can't contact Pellomar site", 120000));
  EXPECT_EQ("", Line(window, IDC_ERROR_LINE));
  EXPECT_EQ(-1, setup.WaitExit(500));

  // Idle: the Esc key, through the dialog message handling, ends it with 0.
  HWND focus = GetDlgItem(window, IDC_STATUS_LINE);
  PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageA(focus, WM_KEYUP, VK_ESCAPE, 0);
  EXPECT_EQ(0, setup.WaitExit(10000));
}

TEST(SetupExe, UnusableSiteShowsTheErrorAndAltF4Ends) {
  HttpTestServer site(60, 2);
  ASSERT_TRUE(site.Ok());  // everything is a 404
  RunningSetup setup(site.Address());
  ASSERT_TRUE(setup.Started());
  HWND window = setup.Window();
  ASSERT_NE(nullptr, window);
  ASSERT_TRUE(WaitForLine(window, IDC_ERROR_LINE, "Can't contact Pellomar site", 120000));
  EXPECT_EQ("", Line(window, IDC_STATUS_LINE));
  EXPECT_GE(site.ConnectionCount(), 1);
  // Idle: Alt+F4 (the close box's command) ends the process with 0.
  EXPECT_EQ(-1, setup.WaitExit(300));
  PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 1 | KF_ALTDOWN << 16);
  EXPECT_EQ(0, setup.WaitExit(10000));
}

}  // namespace
