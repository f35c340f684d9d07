// Resource ids of ostrivane.rc, shared with the code that uses them.
#pragma once

#define IDI_OSTRIVANE 1
// The end-of-run box with its failures: the summary, the whole list and "保存报告…".
#define IDD_REPORT 100
#define IDC_REPORT_TEXT 101
#define IDC_REPORT_DETAILS 102
#define IDC_REPORT_SAVE 103
// The question of the Ask policy: its text and the answers for the rest of the run (Yes, No
// and Stop are IDYES, IDNO and IDCANCEL).
#define IDD_ASK 110
#define IDC_ASK_TEXT 111
#define IDC_ASK_ICON 112
#define IDC_ASK_YES_TO_ALL 113
#define IDC_ASK_NO_TO_ALL 114
