#pragma once

// Sends SIGINT and SIGTERM to handler, restarting interrupted system calls.
// The handler may only do what is safe in a signal handler.
void HandleStopSignals(void (*handler)(int));
