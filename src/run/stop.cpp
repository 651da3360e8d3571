// The one flag a signal handler sets, and the handlers that set it.
#include "run/stop.h"

#include <signal.h>

#include <atomic>

namespace {

// The process's one piece of mutable global state: a signal handler can reach nothing else.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a handler may only touch lock-free atomics");

void note_signal(int signal_number) {
  int none = 0;
  g_stop_signal.compare_exchange_strong(none, signal_number);  // the first one counts
}

}  // namespace

void stop_on_signals() {
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int stop_signal() { return g_stop_signal.load(std::memory_order_relaxed); }
