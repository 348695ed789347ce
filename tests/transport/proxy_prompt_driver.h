#pragma once
// Plays the user at the proxy prompt: a thread waits for the dialog, looks at
// it, fills the edits and presses OK or Cancel (or notes that none came).
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace testing_support {

class ProxyPromptDriver {
 public:
  enum Answer { kOk, kCancel };
  ProxyPromptDriver(Answer answer, std::string user = "", std::string password = "")
      : answer_(answer), user_(std::move(user)), password_(std::move(password)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ProxyPromptDriver() {
    stop_ = true;
    thread_.join();
  }
  ProxyPromptDriver(const ProxyPromptDriver&) = delete;
  ProxyPromptDriver& operator=(const ProxyPromptDriver&) = delete;

  // How many prompts were answered so far.
  int Seen() const { return seen_; }
  // What the first prompt looked like, read before it was filled.
  std::string Description() const { return description_; }

 private:
  static std::string WindowText(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
  }
  static std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
  }
  // Positions and sizes are given back in dialog units, computed from the
  // pixels with the dialog's own base units (exact for these small values).
  std::string Describe(HWND dialog) {
    RECT base = {0, 0, 256, 512};  // 64 times the base units' 4 by 8
    MapDialogRect(dialog, &base);
    auto units = [&](int pixels, bool vertical) {
      int dlus = vertical ? 512 : 256, span = vertical ? base.bottom : base.right;
      return std::to_string((pixels * dlus + span / 2) / span);
    };
    RECT client;
    GetClientRect(dialog, &client);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA face = {};
    if (font) GetObjectA(font, sizeof face, &face);
    std::string d = "title=" + WindowText(dialog) + " size=" + units(client.right, false) + "x" +
                    units(client.bottom, true) + " font=" + face.lfFaceName + "\n";
    const LONG shown = WS_TABSTOP | WS_GROUP | WS_BORDER | 0xFFFF;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      RECT r;
      GetWindowRect(child, &r);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
      char style[16];
      wsprintfA(style, "%lx", GetWindowLongA(child, GWL_STYLE) & shown);
      d += ClassOf(child) + " id=" + std::to_string(GetDlgCtrlID(child) & 0xFFFF) + " text=" + WindowText(child) +
           " at=" + units(r.left, false) + "," + units(r.top, true) + " size=" + units(r.right - r.left, false) +
           "x" + units(r.bottom - r.top, true) + " style=" + style + "\n";
    }
    return d;
  }
  void Run() {
    while (!stop_) {
      HWND dialog = FindWindowA("#32770", "Enter Proxy/Firewall Access Details");
      if (!dialog || !IsWindowVisible(dialog)) {
        Sleep(20);
        continue;
      }
      if (seen_ == 0) description_ = Describe(dialog);
      if (answer_ == kOk) {
        SetDlgItemTextA(dialog, 1001, user_.c_str());
        SetDlgItemTextA(dialog, 1002, password_.c_str());
      }
      SendMessageA(GetDlgItem(dialog, answer_ == kOk ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
      ++seen_;
      // Wait until this prompt is gone before looking for another.
      for (int i = 0; i < 250 && IsWindow(dialog); ++i) Sleep(20);
    }
  }

  Answer answer_;
  std::string user_, password_;
  std::string description_;
  std::atomic<int> seen_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testing_support
