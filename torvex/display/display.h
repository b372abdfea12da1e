// The three displays of a run, chosen by the display word (O line):
// "regular" prints to the terminal and takes no keys; "curses" runs a
// curses screen on the terminal, prints there and reads keys from it;
// "both" prints to the terminal and opens a small key window (an xterm
// running a one-year sleep) whose terminal takes the keys N, O, P and Q.
#ifndef TORVEX_DISPLAY_DISPLAY_H
#define TORVEX_DISPLAY_DISPLAY_H

#include "torvex/structs.h"

#include <cstdio>

// The key window's command line, and the command its terminal runs: a
// process of the user whose command is exactly this is a key window, also
// one left open by an earlier run.
constexpr const char *KEYWIN_COMMAND =
    "xterm +sb -T \"TORVEX\" -geometry 21x6 -bg green1 -e sleep 31536000 &";
constexpr const char *KEYWIN_SLEEP = "sleep 31536000";

// Size of the buffer that port_search returns.
constexpr int PORT_NAME_SIZE = 200;

// The print function of the curses display: printf-like, onto the curses
// screen in use.
int curses_printf(const char *fmt, ...);

// Sets the display up for the display word.  "curses": a curses screen on
// the terminal, non-blocking key reads with echo.  "both": finds the key
// window (starting one when none runs and an X display is set, and waiting
// up to 20 seconds for it) and opens the curses screen on its terminal with
// the key legend.  A display that cannot be set up ends the process with
// status 1 after a message that offers "O) regular".  Once a screen is
// open, any end of the process that has not closed it shows the screen and
// closes it, so the terminal is never left in key-at-a-time mode.
void initcurses(const char *device);

// The terminal device ("/dev/pts/3") of a running key window in a newly
// allocated buffer of PORT_NAME_SIZE bytes (released by the caller with
// free), or null when none runs.
char *port_search();

// The same search over a process listing whose lines hold the process
// number, the terminal name ("?" for none) and the command line, in that
// order.  The first process whose command line is exactly KEYWIN_SLEEP and
// that has a terminal counts.
char *find_key_window(FILE *listing);

// Acts on at most one key waiting on the curses screen; called after every
// fit iteration unless the display is "regular".  N asks for a new
// iteration limit (*ITERMAX), O writes the components to the next restart
// file (positions shifted back by lowx - 1, lowy - 1, with chisq and ndof),
// P pauses until P is pressed again, Q asks to quit.  Returns 1 for Q,
// else 0.
int keypoll(fitpars *fpar, int *ITERMAX, int lowx, int lowy, float chisq, int ndof);

// The display step of main: makes word the display in force (device),
// sets it up with initcurses unless it begins with "regular", and picks
// pfunc: the curses print for "curses", the terminal's printf otherwise.
void choose_display(const char *word);

// Ends the curses screen unless the display is "regular"; for every end of
// a run after choose_display.
void end_display();

#endif
