#include "platform/signals.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_in_fit = 0;
volatile sig_atomic_t g_held = 0;
volatile sig_atomic_t g_pending = 0;
std::atomic<const char*> g_temp_file{nullptr};
std::atomic<const char*> g_temp_folder{nullptr};
std::atomic<void (*)()> g_terminal_restore{nullptr};
constexpr int kMadeFolders = 8;
std::atomic<const char*> g_made_folders[kMadeFolders] = {};
std::atomic<int> g_made_count{0};

// The folders the run made that are empty now, the last made first.
void remove_made_folders() {
  for (int i = std::min(g_made_count.load(), kMadeFolders); i-- > 0;) {
    if (const char* folder = g_made_folders[i].load()) ::rmdir(folder);
  }
}

// Removes the entries of the open folder `fd` and, `depth` levels down, of the
// folders in it, with calls that are safe in a signal handler (no memory is
// allocated). The report's temporary folder holds files and one folder of files.
void remove_entries(int fd, int depth) {
#ifdef SYS_getdents64
  alignas(8) char buffer[4096];
  for (bool removed = true; removed;) {
    removed = false;
    ::lseek(fd, 0, SEEK_SET);
    const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    for (long at = 0; at < got;) {
      // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
      unsigned short length = 0;
      __builtin_memcpy(&length, buffer + at + 16, sizeof length);
      const char* name = buffer + at + 19;
      at += length;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      if (::unlinkat(fd, name, 0) == 0) {
        removed = true;
        continue;
      }
      if (depth <= 0) continue;
      const int sub = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (sub < 0) continue;
      remove_entries(sub, depth - 1);
      ::close(sub);
      if (::unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
    }
  }
#else
  (void)fd;
  (void)depth;
#endif
}

void end_at_once(int sig) {
  if (void (*restore)() = g_terminal_restore.load()) restore();
  if (const char* temp = g_temp_file.load()) unlink(temp);
  if (const char* folder = g_temp_folder.load()) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
      remove_entries(fd, 2);
      ::close(fd);
      ::rmdir(folder);
    }
  }
  remove_made_folders();
  _exit(128 + sig);
}

void on_signal(int sig) {
  if (g_in_fit && !g_stop) {
    g_stop = sig;
    return;
  }
  if (g_held) {
    g_pending = sig;
    return;
  }
  end_at_once(sig);
}

}  // namespace

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void enter_fit_phase() { g_in_fit = 1; }

bool stop_requested() { return g_stop != 0; }

void clear_stop_request() { g_stop = 0; }

void register_temp_file(const char* path) { g_temp_file.store(path); }

void register_temp_folder(const char* path) { g_temp_folder.store(path); }

void hold_interrupts() { g_held = 1; }

void release_interrupts() {
  g_held = 0;
  if (const int sig = g_pending) end_at_once(sig);
}

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
