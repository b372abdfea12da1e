#include "torvex/display/display.h"

#include "torvex/fit/levmar.h"
#include "torvex/output/outmenu.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ncurses.h>
#include <string>
#include <unistd.h>

namespace {

constexpr int KEYWIN_TRIES = 20;

// Makes what was printed visible: the curses screen is refreshed, the
// terminal's output flushed (it may be a pipe or a file).
void show()
{
    if (display_is("curses"))
        refresh();
    else
        fflush(stdout);
}

// Ends a run whose display cannot be set up, pointing at the plain one.
[[noreturn]] __attribute__((format(printf, 1, 2))) void display_failure(const char *fmt, ...)
{
    fflush(stdout);
    fprintf(stderr, "\n-- ERROR: ");
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
    if (display_is("curses"))
        fprintf(stderr, ".\n   Set \"O) regular\" in the parameter file for plain terminal "
                        "output.\n");
    else
        fprintf(stderr, ".\n   Set \"O) regular\" (or \"O) curses\") in the parameter file to "
                        "run without a key window.\n");
    fprintf(stderr, "   Quitting now.\n\n");
    exit(1);
}

// The key window's terminal, waiting for one to appear after starting it.
char *open_key_window()
{
    char *port = port_search();
    if (port)
        return port;

    // Without an X display no terminal window can appear: waiting for one
    // would only delay the failure.
    const char *x = getenv("DISPLAY");
    if (!x || !*x)
        display_failure("The display \"both\" needs a key window, and no X display is set "
                        "(DISPLAY)");

    printf("\n");
    fflush(stdout);
    if (system(KEYWIN_COMMAND) == -1)
        display_failure("Cannot start the key window");
    for (int i = 0; i < KEYWIN_TRIES && !port; i++) {
        printf("Trying to open up an interaction window....\n");
        fflush(stdout);
        sleep(1);
        port = port_search();
    }
    if (!port) {
        printf("\nInteraction window not detected yet.  Quitting....\n");
        display_failure("No key window appeared within 20 seconds");
    }
    return port;
}

// Any end of the process with the screen still open (an input error, a
// failed allocation) shows what was printed and gives the terminal back.
void restore_terminal()
{
    if (!isendwin()) {
        refresh();
        endwin();
    }
}

// Reads one non-blank line: from standard input with the display "both",
// else from the curses screen (blocking for it).  False at end of input.
bool read_answer(char *buf, int size)
{
    for (;;) {
        if (display_is("both")) {
            fflush(stdout);
            if (!fgets(buf, size, stdin))
                return false;
            // Drop the rest of an overlong line so it is not read as keys.
            if (!strchr(buf, '\n'))
                for (int c = getchar(); c != '\n' && c != EOF; c = getchar()) {
                }
        } else {
            refresh();
            nodelay(stdscr, FALSE);
            int r = getnstr(buf, size - 1);
            nodelay(stdscr, TRUE);
            if (r == ERR)
                return false;
        }
        for (const char *p = buf; *p; p++)
            if (!isspace(static_cast<unsigned char>(*p)))
                return true;
    }
}

// A whole number from 1 to INT_MAX, blanks around it allowed.
bool parse_limit(const char *text, int *value)
{
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < 1 || v > INT_MAX)
        return false;
    while (isspace(static_cast<unsigned char>(*end)))
        end++;
    if (*end != '\0')
        return false;
    *value = static_cast<int>(v);
    return true;
}

void new_limit(int *itermax)
{
    pfunc("\n");
    pfunc("Enter a new maximum number of iterations ==> ");
    char answer[64];
    int limit = 0;
    if (read_answer(answer, sizeof answer) && parse_limit(answer, &limit))
        *itermax = limit;
    else
        pfunc("-- Not a whole number above 0; the iteration limit stays %d.\n", *itermax);
    show();
}

void write_restart(fitpars *fpar, int lowx, int lowy, float chisq, int ndof)
{
    char name[RESTART_NAME_SIZE];
    // outmenu reports its own failure; only a written file is announced.
    if (outmenu(fpar, name, lowx - 1, lowy - 1, chisq, ndof) == 0) {
        pfunc("\n");
        pfunc("Outputting current parameters to %s.\n", name);
    }
    show();
}

void pause_fit()
{
    pfunc("\n");
    pfunc("Paused....  Hit P to unpause.\n");
    show();
    noecho();
    // Wait for keys rather than poll for them.  A read that fails even so
    // means the keys are gone (the key window was closed): the fit goes on.
    nodelay(stdscr, FALSE);
    int c;
    do
        c = getch();
    while (c != 'P' && c != 'p' && c != ERR);
    nodelay(stdscr, TRUE);
    pfunc("Continuing....\n");
    echo();
    show();
}

} // namespace

int curses_printf(const char *fmt, ...)
{
    // Formatted here, not by the library: its printw reuses a spent argument
    // list when the text outgrows its own buffer (about one screen), and
    // then prints wild memory.
    char small[512];
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int len = vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    char *text = small;
    std::string big;
    if (len >= static_cast<int>(sizeof small)) {
        big.resize(static_cast<size_t>(len) + 1);
        vsnprintf(&big[0], big.size(), fmt, again);
        text = &big[0];
    }
    va_end(again);
    if (len < 0)
        return -1;
    return waddnstr(stdscr, text, len) == ERR ? -1 : len;
}

char *find_key_window(FILE *listing)
{
    char *line = nullptr;
    size_t cap = 0;
    char *port = nullptr;
    while (!port && getline(&line, &cap, listing) != -1) {
        char *p = line;
        char *end = nullptr;
        strtol(p, &end, 10);
        if (end == p || !isspace(static_cast<unsigned char>(*end)))
            continue;
        p = end + strspn(end, " \t");
        size_t ttylen = strcspn(p, " \t\n");
        const char *tty = p;
        p += ttylen;
        p += strspn(p, " \t");
        size_t cmdlen = strcspn(p, "\n");
        while (cmdlen > 0 && isspace(static_cast<unsigned char>(p[cmdlen - 1])))
            cmdlen--;
        // The sleep itself, not a line that mentions it (the xterm's own
        // command line does, on the terminal it was started from).
        if (cmdlen != strlen(KEYWIN_SLEEP) || strncmp(p, KEYWIN_SLEEP, cmdlen) != 0)
            continue;
        if (ttylen == 0 || (ttylen == 1 && (tty[0] == '?' || tty[0] == '-')))
            continue; // no terminal to take keys from
        if (ttylen + strlen("/dev/") >= static_cast<size_t>(PORT_NAME_SIZE))
            continue;
        port = static_cast<char *>(malloc(PORT_NAME_SIZE));
        if (port)
            snprintf(port, PORT_NAME_SIZE, "/dev/%.*s", static_cast<int>(ttylen), tty);
    }
    free(line);
    return port;
}

char *port_search()
{
    // Read through a pipe: no file in the current folder to collide with
    // another run or to be left behind.
    FILE *ps = popen("ps -x -o pid=,tty=,args= 2>/dev/null", "r");
    if (!ps)
        return nullptr;
    char *port = find_key_window(ps);
    pclose(ps);
    return port;
}

void initcurses(const char *device)
{
    if (strncmp(device, "curses", 6) == 0) {
        // newterm rather than initscr, which would end the process itself
        // on a terminal it cannot drive.
        if (!newterm(nullptr, stdout, stdin)) {
            const char *term = getenv("TERM");
            display_failure("The display \"curses\" cannot run on this terminal (TERM=%s)",
                            term ? term : "not set");
        }
        atexit(restore_terminal);
        nocbreak();
        scrollok(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        echo();
        cbreak();
    } else if (strncmp(device, "both", 4) == 0) {
        char *port = open_key_window();
        FILE *term = fopen(port, "r+");
        if (!term)
            display_failure("Cannot open the key window's terminal %s: %s", port, strerror(errno));
        if (!newterm("xterm", term, term))
            display_failure("Cannot start curses on the key window's terminal %s", port);
        atexit(restore_terminal);
        refresh();
        nodelay(stdscr, TRUE);
        echo();
        mvprintw(1, 0, "  N = New max iter \n");
        printw("  O = Output params \n");
        printw("  P = Pause fit  \n");
        printw("  Q = Quit ASAP \n");
        refresh();
        free(port);
        cbreak();
    } else {
        cbreak();
    }
}

int keypoll(fitpars *fpar, int *ITERMAX, int lowx, int lowy, float chisq, int ndof)
{
    switch (getch()) {
    case 'N':
    case 'n':
        new_limit(ITERMAX);
        return 0;
    case 'O':
    case 'o':
        write_restart(fpar, lowx, lowy, chisq, ndof);
        return 0;
    case 'P':
    case 'p':
        pause_fit();
        return 0;
    case 'Q':
    case 'q':
        pfunc("\n\n");
        pfunc("Quitting out early now....\n");
        pfunc("The solution may not be fully optimized.\n\n");
        show();
        return 1;
    default: // no key waiting, or one without a meaning
        return 0;
    }
}

void choose_display(const char *word)
{
    snprintf(device, DEVICE_SIZE, "%s", word);
    if (display_is("regular")) {
        pfunc = printf;
        return;
    }
    initcurses(device);
    pfunc = display_is("curses") ? curses_printf : printf;
    keypoll_hook = keypoll;
}

void end_display()
{
    if (!display_is("regular"))
        endwin();
}
