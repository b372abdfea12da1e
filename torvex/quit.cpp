#include "torvex/quit.h"

#include "torvex/structs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ncurses.h>

void quit_run(int status)
{
    if (strncmp(device, "regular", 7) != 0) {
        refresh();
        endwin();
    }
    fflush(stdout);
    exit(status);
}
