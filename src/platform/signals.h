// Interrupts during a run. Ctrl-C, SIGTERM and SIGHUP (a lost terminal) before the
// fit end the run at once; during and after the fit the first one is a request to
// stop the fit and write the result, and a second one ends the run at once. Ending
// at once restores the terminal and removes the unfinished result file, the report
// folder being built aside and the folders the run made for it; while a folder is
// being put in place it waits until that is done. On Windows
// Ctrl-C, Ctrl-Break and closing the console window play these parts.
// One implementation per system, in src/platform/posix and src/platform/windows.
#pragma once

// Installs the handlers; SIGPIPE is ignored so that a closed console never costs
// the result file.
void install_signal_handlers();

// From now on an interrupt asks the fit to stop instead of ending the run.
void enter_fit_phase();

// True once an interrupt has asked the fit to stop.
bool stop_requested();

// Clears a pending stop request (tests only).
void clear_stop_request();

// The file to remove when the run ends at once; null when there is none. The text
// must stay valid while registered.
void register_temp_file(const char* path);

// The folder to remove, with everything in it, when the run ends at once; null when
// there is none. The text must stay valid while registered.
void register_temp_folder(const char* path);

// A folder this run made, to be removed when the run ends at once if it is empty
// then; the folders registered last are removed first (up to eight are kept). The
// text must stay valid while registered. forget_made_folders() clears the list.
void register_made_folder(const char* path);
void forget_made_folders();

// While held, an interrupt that would end the run at once waits until the hold is
// released, so that files being put in place are all put there or none is.
void hold_interrupts();
void release_interrupts();

// Restores the terminal's settings when the run ends at once; null when there is
// nothing to restore. Called from a signal handler, so it may only make calls that
// are safe there.
void register_terminal_restore(void (*restore)());
