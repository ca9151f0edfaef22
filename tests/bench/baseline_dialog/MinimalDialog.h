// The minimal dialog the start-up benchmark compares OCTO816.EXE with: its title and ids.
#pragma once

#define MINIMAL_DIALOG_TITLE "Minimal Dialog"
#define IDD_MINIMAL 100
#define IDC_MINIMAL_TEXT 1000
