// Stopping a run early on SIGINT or SIGTERM: the signal is noted, and the run asks for it.
#pragma once

// From now on SIGINT and SIGTERM no longer end the process at once: they are noted, and a run
// that asks stop_signal() takes no new file. Interrupted system calls are restarted, so a file in
// progress ends as it would have.
void stop_on_signals();

// The first of SIGINT or SIGTERM that arrived since stop_on_signals(); 0 for none.
int stop_signal();
