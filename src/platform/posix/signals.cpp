#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_in_fit = 0;
std::atomic<const char*> g_temp_file{nullptr};
std::atomic<void (*)()> g_terminal_restore{nullptr};

void end_at_once(int sig) {
  if (void (*restore)() = g_terminal_restore.load()) restore();
  if (const char* temp = g_temp_file.load()) unlink(temp);
  _exit(128 + sig);
}

void on_signal(int sig) {
  if (g_in_fit && !g_stop) {
    g_stop = sig;
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

void register_terminal_restore(void (*restore)()) { g_terminal_restore.store(restore); }
