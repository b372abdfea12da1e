// Ending a run that cannot go on.
#ifndef TORVEX_DISPLAY_QUIT_H
#define TORVEX_DISPLAY_QUIT_H

// Closes the curses screen when one is in use and ends the process with
// status; the caller has printed the reason through pfunc.
[[noreturn]] void quit_run(int status);

// Ends the run with status 2 after saying that the fit region has no width
// or lies wholly outside the image.
[[noreturn]] void quit_empty_region();

#endif
