// Runs one piece of work on several threads at once.
#pragma once

#include <functional>

// Calls body(t) for t = 0 .. threads - 1, each on its own thread (t = 0 on the
// calling one), and returns when every call has returned. An exception thrown by
// any call is thrown again here once all calls have ended (the first one caught).
void run_on_threads(int threads, const std::function<void(int)>& body);

// How many of `threads` threads a piece of work of about `work` multiply-adds is
// worth: starting a thread costs about as much as a few hundred thousand of them,
// and small problems (a few hundred records) run faster on one thread.
int threads_for(double work, int threads);
