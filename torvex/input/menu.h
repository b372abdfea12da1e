// The parameter-file writer: the settings and components of a run in the
// format that the reader takes back (the menu of the editor, and the
// restart file).
#ifndef TORVEX_INPUT_MENU_H
#define TORVEX_INPUT_MENU_H

#include "torvex/structs.h"

#include <cstdio>

// Writes the settings and components in the parameter-file format.  The
// offsets are added to every component's x and y except a sky's; chi^2 and
// ndof appear only when chisq > 0.
void menu(const inpars *input, const fitpars *fpar, FILE *out, float xoffset, float yoffset,
          float chisq, int ndof);

#endif
