#pragma once

// Sends SIGINT and SIGTERM to handler, restarting interrupted system calls;
// with termInterrupts, a call that SIGTERM interrupts returns instead (EINTR
// or a short count), so a write waiting on a reader that never reads can end.
// The handler may only do what is safe in a signal handler.
void HandleStopSignals(void (*handler)(int), bool termInterrupts = false);

// Keeps SIGINT and SIGTERM off the calling thread, so they reach the main
// thread and interrupt its writes. For helper threads.
void BlockStopSignals();

// Ignores SIGPIPE and SIGXFSZ: a closed pipe or a file-size limit then fails
// the write (EPIPE, EFBIG), which is reported, instead of ending the program
// with half a file behind. Programs started later get the default back.
void IgnoreWriteSignals();
