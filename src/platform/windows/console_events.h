// The handler of console events (Ctrl-C, Ctrl-Break, a closed console, the end of
// the session) that install_signal_handlers() installs; the tests call it directly,
// as a headless console cannot send the events.
#pragma once

#include <windows.h>

BOOL WINAPI on_console_event(DWORD event);
