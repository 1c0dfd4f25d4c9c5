#pragma once

// The text of --help: every option, the settings --set takes, and the exit statuses.
void PrintHelp();
