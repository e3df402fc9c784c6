// The reason that last_error_text() gives, set by every part of the POSIX platform.
#pragma once

// Keeps `error` (an errno value) as the reason for the last failed call.
void set_last_error(int error);
