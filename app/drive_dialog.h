#pragma once
#include <stdint.h>
#include <windows.h>

// Free space the product needs (about 50.5 Mb), though the dialog names 2 Mb.
const uint64_t kRequiredFreeBytes = 52969472;

// Bytes free to the caller on the drive of letter; 0 when unknown.
uint64_t FreeSpaceOf(char letter);

struct DonorLink;

// The drive list of the drive dialog. It shows the drives the way the
// system's file dialogs do by borrowing the drive list of a hidden classic
// file-open dialog that a thread of its own runs. When that list does not
// come within 10 seconds, is empty, or its entries do not begin with drive
// letters, the list is filled from the system's drive enumeration and drawn
// here.
class DriveList {
 public:
  typedef DWORD(WINAPI* DriveMaskFunction)();

  DriveList();
  ~DriveList();  // ends the hidden dialog
  DriveList(const DriveList&) = delete;
  DriveList& operator=(const DriveList&) = delete;

  // Subclasses the drop-down list and fills it; returns once it is filled,
  // pumping the calling thread's messages meanwhile.
  void AttachAndFill(HWND list, HWND dialog);
  // Where the system's drive enumeration comes from (GetLogicalDrives;
  // tests give others).
  void SetDriveMask(DriveMaskFunction drive_mask) { drive_mask_ = drive_mask; }
  // Whether the entries came from the hidden dialog (else from the system's
  // drive enumeration).
  bool Borrowed() const { return borrowed_; }

 private:
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wparam, LPARAM lparam);
  void FillFromDonor();
  void FillFromSystem();
  void DrawEntry(const DRAWITEMSTRUCT* item);

  HWND list_;
  WNDPROC previous_;
  bool filled_;
  HWND donor_list_;
  HWND donor_dialog_;
  HWND dialog_;
  DonorLink* link_;  // shared with the donor thread, which may outlive us
  HANDLE donor_thread_;
  bool borrowed_;
  DriveMaskFunction drive_mask_;
};

// The dialog that asks on which drive the product goes, when no folder is
// stored. Modal, on the calling thread, without an owner.
class DriveDialog {
 public:
  typedef uint64_t (*FreeSpaceFunction)(char letter);

  // free_space: where free bytes come from (FreeSpaceOf; tests give others);
  // drive_mask: the system's drives, when the list is filled from them.
  explicit DriveDialog(HINSTANCE instance, FreeSpaceFunction free_space = FreeSpaceOf,
                       DriveList::DriveMaskFunction drive_mask = GetLogicalDrives);
  DriveDialog(const DriveDialog&) = delete;
  DriveDialog& operator=(const DriveDialog&) = delete;

  // 1 when OK was chosen (Folder() then ends in a backslash), 2 when
  // cancelled or the dialog could not be shown.
  int Run();
  const char* Folder() const { return folder_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void Initialise();
  void UpdateFreeSpace();
  char SelectedLetter();
  void Choose();

  HWND window_;
  char folder_[MAX_PATH];
  bool enough_space_;
  HWND heading_;
  HWND requirement_;
  HWND free_space_;
  DriveList list_;
  HINSTANCE instance_;
  FreeSpaceFunction free_space_of_;
};
