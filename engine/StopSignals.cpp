#include "StopSignals.h"

#include <csignal>

void HandleStopSignals(void (*handler)(int), bool termInterrupts)
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    if (termInterrupts)
        sa.sa_flags = 0;
    sigaction(SIGTERM, &sa, nullptr);
}
