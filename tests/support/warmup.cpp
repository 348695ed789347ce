// Opens and closes one window so that Wine's helper processes are running
// (with their output sent to a file) before any test captures output.
#include <windows.h>

int main() {
  HWND window = CreateWindowA("STATIC", "warm-up", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (window) DestroyWindow(window);
  return 0;
}
