#include <windows.h>

#include <cstdlib>

#include "platform/keyboard.h"
#include "platform/signals.h"

namespace {

HANDLE g_input = nullptr;  // the console's input while its mode is changed
DWORD g_saved_mode = 0;    // its mode before the fit

void reset_console() {
  FlushConsoleInputBuffer(g_input);
  SetConsoleMode(g_input, g_saved_mode);
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// A key as a terminal would pass one on: a key pressed down that is not a
// modifier or a lock on its own.
bool is_key_press(const INPUT_RECORD& event) {
  if (event.EventType != KEY_EVENT || !event.Event.KeyEvent.bKeyDown) return false;
  switch (event.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
    case VK_LWIN:
    case VK_RWIN:
      return false;
    default:
      return true;
  }
}

class ConsoleKeyboard : public Keyboard {
 public:
  ConsoleKeyboard() : input_(GetStdHandle(STD_INPUT_HANDLE)), console_(is_console(input_)) {
    if (!console_) return;
    // Single keys without echo; Ctrl-C stays an interrupt, not a key.
    GetConsoleMode(input_, &g_saved_mode);
    g_input = input_;
    register_terminal_restore(reset_console);
    static bool registered = false;
    if (!registered) {
      std::atexit([] {
        if (console_raw) restore_console();
      });
      registered = true;
    }
    console_raw = true;
    SetConsoleMode(input_, (g_saved_mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) |
                               ENABLE_PROCESSED_INPUT);
  }
  ~ConsoleKeyboard() override {
    if (console_raw) restore_console();
  }

  bool key_waiting() override {
    if (console_) {
      // Other events (the mouse, focus, a resized window, a key let go) are read
      // and dropped, so that they never hide a key behind them.
      for (;;) {
        INPUT_RECORD event{};
        DWORD n = 0;
        if (!PeekConsoleInputW(input_, &event, 1, &n) || n == 0) return false;
        if (is_key_press(event)) return true;
        ReadConsoleInputW(input_, &event, 1, &n);
      }
    }
    // Not a console: a waiting byte and the end of input are keys, as is input
    // that is missing or broken. A file or the NUL device always has one or the other.
    switch (GetFileType(input_)) {
      case FILE_TYPE_PIPE: {
        DWORD available = 0;
        if (!PeekNamedPipe(input_, nullptr, 0, nullptr, &available, nullptr)) return true;
        return available > 0;
      }
      default:
        return true;
    }
  }

  void read_key() override {
    DWORD n = 0;
    if (console_) {
      INPUT_RECORD event{};
      ReadConsoleInputW(input_, &event, 1, &n);
      return;
    }
    char c;
    ReadFile(input_, &c, 1, &n, nullptr);
  }

 private:
  static void restore_console() {
    register_terminal_restore(nullptr);
    reset_console();
    console_raw = false;
  }

  static inline bool console_raw = false;
  HANDLE input_;
  bool console_;
};

}  // namespace

std::unique_ptr<Keyboard> console_keyboard() { return std::make_unique<ConsoleKeyboard>(); }

bool stdin_is_terminal() { return is_console(GetStdHandle(STD_INPUT_HANDLE)); }
