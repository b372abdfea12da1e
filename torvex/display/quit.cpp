#include "torvex/display/quit.h"

#include "torvex/structs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ncurses.h>

void quit_run(int status)
{
    if (!display_is("regular")) {
        refresh();
        endwin();
    }
    fflush(stdout);
    exit(status);
}

void quit_empty_region()
{
    pfunc("\n");
    pfunc("The fitting region has either zero width or is completely outside of image.\n");
    pfunc("Quitting now.\n\n");
    quit_run(2);
}
