// Resource ids of ostrivane.rc, shared with the code that uses them.
#pragma once

#define IDI_OSTRIVANE 1
// The end-of-run box with its failures: the summary, the whole list and "保存报告…".
#define IDD_REPORT 100
#define IDC_REPORT_TEXT 101
#define IDC_REPORT_DETAILS 102
#define IDC_REPORT_SAVE 103
