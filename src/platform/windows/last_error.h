// The reason that last_error_text() gives, set by every part of the Windows platform.
#pragma once

#include <windows.h>

// Keeps `error` (a GetLastError() value) as the reason for the last failed call.
void set_last_error(DWORD error);
