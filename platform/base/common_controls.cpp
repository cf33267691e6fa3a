#include "platform/dialog.h"

void InitCommonControls() {}
