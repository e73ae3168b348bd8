#include "text/interrupt.h"

#include <csignal>

namespace tavo {

namespace {

volatile std::sig_atomic_t caught_signal = 0;

void record_signal(int sig) { caught_signal = sig; }

constexpr int SIGNAL_CODE_BASE = 128;  // the shells' exit status of a signalled program

}  // namespace

void catch_interrupts() {
    struct sigaction action {};
    action.sa_handler = record_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interrupt_signal() { return caught_signal; }

int interrupt_code() { return caught_signal ? SIGNAL_CODE_BASE + caught_signal : 0; }

}  // namespace tavo
