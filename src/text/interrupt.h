// SIGINT and SIGTERM end a run through its finishing sequence: the handler
// only records the signal, and the run looks at it per line read, per cycle
// and per batch.
#pragma once

namespace tavo {

// Installs the handlers (without SA_RESTART, so that a read waiting on a
// pipe returns and the run can notice the signal).
void catch_interrupts();

// The signal that asked the run to end, or 0.
int interrupt_signal();

// The error code of an interrupted run: 128 + the signal (130, 143).
int interrupt_code();

}  // namespace tavo
