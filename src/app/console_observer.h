// The fit as the console shows it: a key on the console keyboard or an interrupt
// stops it, each pass prints its statistics line, and the closing line says why it
// stopped and which pass the result belongs to.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "fit/fit_observer.h"
#include "platform/keyboard.h"

class ConsoleObserver : public FitObserver {
 public:
  // `console` null prints nothing; `closing_line`: print the closing line on
  // every stop (it is always printed after divergence).
  ConsoleObserver(Keyboard& keyboard, std::FILE* console, bool closing_line)
      : keyboard_(keyboard), console_(console), closing_line_(closing_line) {}

  // Text the closing line names before its final period (the holds of the fit),
  // and prints the closing line on every stop; "" (the default): nothing.
  void set_closing_note(std::string note) {
    closing_note_ = std::move(note);
    if (!closing_note_.empty()) closing_line_ = true;
  }

  void discard_key() override;
  bool key_pressed() override { return keyboard_.key_waiting(); }
  bool interrupted() override;
  void pass_done(const PassLine& line) override;
  void fit_done(const FitOutcome& outcome, const FitState& state) override;

 private:
  Keyboard& keyboard_;
  std::FILE* console_;
  bool closing_line_;
  std::string closing_note_;
};
