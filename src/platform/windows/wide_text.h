// UTF-8 text, as the program keeps every name, to and from the wide characters of
// the Windows calls.
#pragma once

#include <string>

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* wide);

// Whether the path names a device rather than a file: a name such as CON, NUL,
// PRN, AUX, COM1 or LPT1 in any case, also with an extension or trailing dots and
// spaces ("nul.txt", "Con "), or a path into the device namespace ("\\.\...").
bool names_device(const std::string& path);
