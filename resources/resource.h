// Resource ids of the Windows program (resources/zavprint.rc), shared by the
// program and by the dialog engine that loads the dialogs' menu and accelerators.
#pragma once

#define IDI_APPICON 101
#define IDR_MENU 102
#define IDR_ACCELERATOR1 103

// Type of the dialog-description resources beside the dialog templates.
#define RT_DIALOG_DESCRIPTION 1023

// Message string table.
#define IDS_APP_TITLE 3001
#define IDS_RESOURCE_MISSING 3002
#define IDS_UNSUPPORTED_SYSTEM 3003
#define IDS_NO_HELP_FILE 3004
#define IDS_CANNOT_WRITE_BLANK 3005
#define IDS_CANNOT_OPEN_BLANK 3006
#define IDS_CANNOT_OPEN_PORT 3007

// Accelerator commands (no control or menu entry carries them).
#define ID_ACCEL_CTRL_A 57600
#define ID_ACCEL_CTRL_S 57603

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
