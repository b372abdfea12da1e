// Ending a run that cannot go on.
#ifndef TORVEX_QUIT_H
#define TORVEX_QUIT_H

// Closes the curses screen when one is in use and ends the process with
// status; the caller has printed the reason through pfunc.
[[noreturn]] void quit_run(int status);

#endif
