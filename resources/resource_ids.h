// Resource and control identifiers, shared by tq734-updater.rc and the code.
// Plain defines only: the resource compiler reads this file too.
#pragma once

#define IDD_MAIN_DIALOG 101
#define IDI_APP_ICON 103

#define IDC_POLL 111
#define IDC_START 112
#define IDC_EXIT 115
#define IDC_BANNER 116
#define IDC_STATUS_LINE 117
#define IDC_INFO_LINE 118
#define IDC_BLOCK_PROGRESS 121
#define IDC_ACTIVITY 122
#define IDC_PORT_GROUP 130
#define IDC_PORT_LABEL 131
#define IDC_PORT_LIST 132

#define TIMER_TICK 1
#define TIMER_REPLY 2
