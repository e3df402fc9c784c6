#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/keyboard.h"
#include "platform/signals.h"

namespace {

struct termios g_saved;  // terminal settings before the fit

void reset_terminal() { tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved); }

void restore_terminal() {
  register_terminal_restore(nullptr);
  reset_terminal();
}

class ConsoleKeyboard : public Keyboard {
 public:
  ConsoleKeyboard() {
    // A run in the background of a shell must not touch the terminal (that would
    // stop it); it has no keyboard and ends by --passes or a signal.
    if (isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) != getpgrp()) {
      background_ = true;
      return;
    }
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_saved) == 0) {
      struct termios raw = g_saved;
      raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      register_terminal_restore(reset_terminal);
      static bool registered = false;
      if (!registered) {
        std::atexit([] {
          if (terminal_raw) restore_terminal();
        });
        registered = true;
      }
      terminal_raw = true;
      tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
  }
  ~ConsoleKeyboard() override {
    if (terminal_raw) restore_terminal();
    terminal_raw = false;
  }

  bool key_waiting() override {
    if (background_) return false;
    struct pollfd fd {};
    fd.fd = STDIN_FILENO;
    fd.events = POLLIN;
    int n = poll(&fd, 1, 0);
    // A readable descriptor, a hang-up or an error (closed input) all count.
    return n > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
  }

  void read_key() override {
    char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    (void)n;
  }

 private:
  static inline bool terminal_raw = false;
  bool background_ = false;
};

}  // namespace

std::unique_ptr<Keyboard> console_keyboard() { return std::make_unique<ConsoleKeyboard>(); }

bool stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }
