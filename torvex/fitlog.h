// The run's text outputs: the restart file "torvex.NN" (a parameter file
// of the current components) and the summary entry of "fit.log".
#ifndef TORVEX_FITLOG_H
#define TORVEX_FITLOG_H

#include "torvex/structs.h"

#include <cstdio>

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
int outmenu(const fitpars *fpar, char *newout, float xoffset, float yoffset, float chisq,
            int ndof);

// Writes the summary entry of one run into the open stream ftype.  sig
// holds the uncertainties, 1-based, ten per component in list order; each
// is printed scaled by sqrt(chi^2/ndof) (an uncertainty of 0 stays 0).
// Positions are printed as lowx + x - 1, lowy + y - 1.  Each component's
// position angle is normalised into (-90, 90] and stored back.  An output
// image that could not be written (output_written false) is named with
// "(not written)".
void fprintpar(int lowx, int lowy, fitpars *fpar, FILE *ftype, const char *newout,
               const double *sig, double chisq, int ndof, bool output_written = true);

// Appends the entry of fprintpar to "fit.log" in the current directory.
// Returns 0, or 1 after a message when the log cannot be written.
int fitlog(int lowx, int lowy, fitpars *fpar, const char *newout, const double *sig,
           double chisq, int ndof, bool output_written = true);

#endif
