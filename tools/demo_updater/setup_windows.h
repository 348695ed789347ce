#pragma once
// Finding and answering the setup program's windows from another process:
// the demo's driver and the end-to-end tests use these.
#include <windows.h>

// Control identifiers of the setup's windows.
enum {
  kSetupStatusLine = 207,
  kSetupErrorLine = 208,
  kSetupThanks = 209,
  kDriveHeading = 204,
  kDriveList = 1137,
  kDriveFreeSpace = 206,
};

// A visible top-level window of process pid (any process when pid is 0)
// whose title is exactly title; null when there is none.
HWND FindProcessWindow(DWORD pid, const char* title);
// The setup's main window ("<product> Setup") and its drive dialog.
HWND FindSetupWindow(DWORD pid);
HWND FindDriveDialog(DWORD pid);

// The text of a control of another process's window into out (cap bytes,
// cut to fit: these texts are only shown and compared whole).
void ControlText(HWND dialog, int id, char* out, int cap);

// What the drive dialog showed when it was answered.
struct DriveDialogView {
  char drive[200];       // the selected entry of the drive list
  char free_space[200];  // the free-space line
};

// Waits at most wait_ms for the dialog's OK button to be enabled, records
// what it shows and presses OK. False when OK stayed disabled.
bool AnswerDriveDialog(HWND dialog, DWORD wait_ms, DriveDialogView* view);
// Presses Cancel (command 2) of a setup window.
void PressCancel(HWND window);
