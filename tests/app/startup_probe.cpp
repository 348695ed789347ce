// A program the start-up check must refuse: a global whose value is only
// known at run time needs a constructor that no one would run.
#include <windows.h>

static DWORD g_started = GetTickCount();

extern "C" void SetupStart() { ExitProcess(g_started); }
