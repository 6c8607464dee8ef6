// Resource and control identifiers of the installer window.
#pragma once

#define IDD_FRMMAIN 100
#define IDB_IMAGE1 101

#define IDC_LABEL1 1001
#define IDC_IMAGE1 1002
#define IDC_FRAME1 1003
#define IDC_LABEL4 1004
#define IDC_TXTLICENSE 1005
#define IDC_FOLDERLABEL 1006
#define IDC_TXTFOLDERNAME 1007
#define IDC_BUTBROWSEFOLDER 1008
#define IDC_BUTSETUP 1009
#define IDC_BUTCANCEL 1010
#define IDC_LABEL2 1011
