// Ending a run that cannot go on.
#ifndef TORVEX_DISPLAY_QUIT_H
#define TORVEX_DISPLAY_QUIT_H

// Closes the curses screen when one is in use and ends the process with
// status; the caller has printed the reason through pfunc.
[[noreturn]] void quit_run(int status);

// Ends the run with status 2 after saying that the fit region has no width
// or lies wholly outside the image.
[[noreturn]] void quit_empty_region();

// The fatal handler of the numerical routines (set_fatal_handler): prints
// the reason, the crash picture and advice through pfunc; unless the
// display is "regular" it leaves the screen up for five seconds and closes
// curses (with the display "curses" the reason then also goes to standard
// error, as the screen is gone); rings the bell and exits with status 100.
[[noreturn]] void numerical_failure(const char *error_text);

// The crash picture (18 lines and a blank one), printed through pfunc.
void printnuke();

#endif
