#include "platform/program.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "platform/windows/wide_text.h"

namespace {

UINT g_console_output_cp = 0;  // the console's code page before the run; 0: unchanged

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

void prepare_standard_streams() {
  // Text mode would write CR LF for every line end.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  // Names are echoed as UTF-8; a console shows them so while the program runs and
  // gets its own code page back afterwards.
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) && GetConsoleOutputCP() != CP_UTF8) {
    g_console_output_cp = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    std::atexit([] { SetConsoleOutputCP(g_console_output_cp); });
  }
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }
