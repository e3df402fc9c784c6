#include "platform/signals.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/windows/console_events.h"

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_in_fit{false};
std::atomic<const char*> g_temp_file{nullptr};
std::atomic<const char*> g_temp_folder{nullptr};
std::atomic<bool> g_held{false};
std::atomic<void (*)()> g_terminal_restore{nullptr};
constexpr int kMadeFolders = 8;
std::atomic<const char*> g_made_folders[kMadeFolders] = {};
std::atomic<int> g_made_count{0};

// The folders the run made that are empty now, the last made first.
void remove_made_folders() {
  for (int i = std::min(g_made_count.load(), kMadeFolders); i-- > 0;) {
    if (const char* folder = g_made_folders[i].load()) remove_empty_folder(folder);
  }
}

// Exit statuses as a POSIX system gives them for the matching signals: Ctrl-C is
// SIGINT (130), Ctrl-Break SIGBREAK (149), a closed console SIGHUP (129), the end
// of the session SIGTERM (143).
int status_of(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return 128 + 2;
    case CTRL_BREAK_EVENT:
      return 128 + 21;
    case CTRL_CLOSE_EVENT:
      return 128 + 1;
    default:
      return 128 + 15;
  }
}

[[noreturn]] void end_at_once(int status) {
  if (void (*restore)() = g_terminal_restore.load()) restore();
  // The temporary file is open with delete sharing: it is gone once the process is.
  if (const char* temp = g_temp_file.load()) remove_file(temp);
  if (const char* folder = g_temp_folder.load()) remove_tree(folder);
  remove_made_folders();
  ExitProcess(static_cast<UINT>(status));
}

}  // namespace

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI on_console_event(DWORD event) {
  if (g_in_fit.load() && !g_stop.exchange(true)) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // A closed console, a log-off or a shut-down ends the process as soon as this
    // handler returns (or after a few seconds): wait for the pass to end and the
    // result to be written, which ends the process from the main thread.
    for (int waited = 0; waited < 4500 && g_temp_file.load() != nullptr; waited += 20) Sleep(20);
    if (const char* temp = g_temp_file.load()) remove_file(temp);
    Sleep(500);
    return TRUE;
  }
  // Files being put in place are all put there first (the main thread releases the
  // hold within moments).
  while (g_held.load()) Sleep(10);
  end_at_once(status_of(event));
}

void install_signal_handlers() { SetConsoleCtrlHandler(on_console_event, TRUE); }

void enter_fit_phase() { g_in_fit = true; }

bool stop_requested() { return g_stop.load(); }

void clear_stop_request() { g_stop = false; }

void register_temp_file(const char* path) { g_temp_file.store(path); }

void register_temp_folder(const char* path) { g_temp_folder.store(path); }

void hold_interrupts() { g_held = true; }

void release_interrupts() { g_held = false; }

void register_made_folder(const char* path) {
  const int at = g_made_count.load();
  if (at >= kMadeFolders) return;
  g_made_folders[at].store(path);
  g_made_count.store(at + 1);
}

void forget_made_folders() {
  g_made_count.store(0);
  for (std::atomic<const char*>& folder : g_made_folders) folder.store(nullptr);
}

void register_terminal_restore(void (*restore)()) { g_terminal_restore.store(restore); }
