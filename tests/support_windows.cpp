// Scratch folders and running the built program on Windows. Paths are UTF-8 text,
// as the program takes them.
#include <windows.h>

#include <filesystem>
#include <random>
#include <stdexcept>

#include "platform/windows/wide_text.h"
#include "support.h"

namespace {

// One argument as the C runtime splits the command line again.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

std::string make_temp_dir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("tarnok-test-" + std::to_string(random() % 100000000u));
    if (std::filesystem::create_directory(p)) return narrow(p.wstring().c_str());
  }
  throw std::runtime_error("no temporary folder");
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_path) {
  TempDir scratch;
  const std::string out_path = scratch.file("stdout");
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::string in_path = stdin_path == "/dev/null" ? "NUL" : stdin_path;
  HANDLE in = CreateFileW(widen(in_path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = CreateFileW(widen(out_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  std::wstring command = quoted(widen(program));
  for (const std::string& a : args) command += L" " + quoted(widen(a));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  RunResult result;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(in);
  CloseHandle(out);
  result.out = read_file(out_path);
  return result;
}
