// Ids of the sample dialog the form layer's tests drive.
#pragma once
#define IDD_SAMPLE 100
#define IDC_NAME 1001
#define IDC_AGREE 1002
#define IDC_ITEMS 1003
#define IDC_BOOM 1004
#define IDC_NOTE 1005
