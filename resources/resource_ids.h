#pragma once
// Identifiers shared by the resource script and the program.
#define IDD_SETUP 101
#define IDD_DRIVE 102
#define IDI_SETUP 128
#define IDB_PICTURE 202
#define IDC_DRIVE_LABEL 203
#define IDC_DRIVE_HEADING 204
#define IDC_DRIVE_REQUIRED 205
#define IDC_DRIVE_FREE 206
#define IDC_STATUS_LINE 207
#define IDC_ERROR_LINE 208
#define IDC_THANKS 209
#define IDC_DRIVE_LIST 1137
