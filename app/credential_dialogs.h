// The login and disarm dialogs on template 120: the user name and password are checked by
// the alarm server before arming, and compared with the stored ones before disarming.
#pragma once

#include "platform/types.h"

// Ends with 1 once the server accepted the credentials, 0 on Cancel.
INT_PTR LoginDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Ends with 1 once the typed credentials equal those of the login that armed the alarm,
// 0 on Cancel.
INT_PTR DisarmDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
