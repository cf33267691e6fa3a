// Error reports: the numbered warning box for internal faults, its variant for a bare
// number, and the text of a system error code.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Shows a warning box captioned "Error number: " + number, whose text is the message and the
// request to send a report; returns when the user has closed it.
void ErrorReport(const char* number, const char* message, HWND owner);
// Shows a warning box captioned with the number in signed decimal, the message alone as text.
void NumberReport(int32_t number, const char* message, HWND owner);
// Writes the code in unsigned decimal into `text`, which must hold 11 bytes.
void FormatErrorCode(uint32_t code, char* text);
