// The restart file "torvex.NN": a parameter file of the current components.
#ifndef TORVEX_OUTPUT_OUTMENU_H
#define TORVEX_OUTPUT_OUTMENU_H

#include "torvex/structs.h"

// Room for "torvex." and any int.
constexpr int RESTART_NAME_SIZE = 32;

// Writes the components as a new restart file with menu, the positions
// shifted by the offsets, and puts its name into newout (at least
// RESTART_NAME_SIZE bytes).  The name is "torvex.%02d" with the first
// number from 1 up that names no existing file; the file is created with
// O_EXCL, so an existing file is never overwritten, even by a concurrent
// run.  Sets input.create to 0 so that the file asks for a fit.
// Returns 0, or 1 after a message when the file cannot be written (newout
// is then "none", and a file that was begun is removed).
int outmenu(const fitpars *fpar, char *newout, float xoffset, float yoffset, float chisq, int ndof);

#endif
