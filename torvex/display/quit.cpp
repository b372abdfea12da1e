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

void printnuke()
{
    // Each line is handed to pfunc as its format, hence the doubled percents.
    static const char *const picture[] = {
        "              .   '   *    .    '   .           \n",
        "         .-~~~~-._.-~~~~~~~~-._.-~~~-.          \n",
        "      .-(   (    )   (    )    (    ) )-.       \n",
        "     (    (    )   (    )    (   )     )        \n",
        "    ( (    )    (    )  ( )    (    )   ) )     \n",
        "     (___(____)___(____)____(____)___)__)       \n",
        "         ~~~--.___ ( (  )  ) ___.--~~~          \n",
        "                  ~( (  ) )~                    \n",
        "                    | |  | |                    \n",
        "                    ( ( %%) )                    \n",
        "                    | |  | |                    \n",
        "                    ) )  ( (                    \n",
        "                   ( (    ) )                   \n",
        "                 __.) )  ( (.__                 \n",
        "           __.--~~  %% %% %%   ~~--.__             \n",
        "      _.--~    .  '   .   '  .   .   ~--._      \n",
        "   __(___________________________________)__    \n",
        "  ~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~ \n",
    };
    for (const char *line : picture)
        pfunc(line);
    pfunc(" \n");
    if (!display_is("regular"))
        refresh();
}

void numerical_failure(const char *error_text)
{
    pfunc("Numerical Recipes run-time error...\n");
    pfunc("%s\n", error_text);
    pfunc("...now exiting to system...\n");
    pfunc("\n");
    printnuke();
    pfunc("TORVEX crashed probably because one of the parameters\n");
    pfunc("has gotten too crazy.  For example, check that the\n");
    pfunc("Nuker parameter alpha, or the Gaussian magnitude has \n");
    pfunc("not gotten too big. \n");
    if (!display_is("regular")) {
        refresh();
        if (system("sleep 5") == -1) {
            // Only a pause so the user can read the screen; nothing to do.
        }
        endwin();
        // The curses screen is gone now; keep the reason on the terminal.
        if (display_is("curses"))
            fprintf(stderr, "Numerical Recipes run-time error...\n%s\n", error_text);
    }
    putchar(7);
    exit(100);
}
