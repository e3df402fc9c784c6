// The keyboard as the fit sees it: a test whether a key is waiting, which neither
// waits nor consumes it, and a read of one key.
#pragma once

#include <memory>

class Keyboard {
 public:
  virtual ~Keyboard() = default;
  virtual bool key_waiting() = 0;
  virtual void read_key() = 0;
};

// A keyboard on which no key is ever pressed.
class NoKeyboard : public Keyboard {
 public:
  bool key_waiting() override { return false; }
  void read_key() override {}
};

// The console keyboard on standard input. On a terminal, input is switched to
// single keys without echo until the keyboard is destroyed (and on every way out);
// a key left unread then is discarded, not passed on to the shell. Standard input
// that is not a terminal counts a waiting byte and the end of input as a key.
std::unique_ptr<Keyboard> console_keyboard();

// True when standard input is a terminal.
bool stdin_is_terminal();
