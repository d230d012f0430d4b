// Chiroscope's resource numbers and control identifiers, for the resource script and the code.
// The same numbers as in ../resources.h, which the Qt build uses.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_CHIROSCOPE_DIALOG 102
#define IDS_PLOT 103
#define IDR_MAINFRAME 128
#define IDC_FINGER1 1000
#define IDC_FINGER2 1001
#define IDC_FINGER3 1002
#define IDC_FINGER4 1004
#define IDC_FINGER5 1005
#define IDC_ROLL 1006
#define IDC_PITCH 1007
#define IDM_ABOUTBOX 0x0010
#define IDM_PLOT 0x0020
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
