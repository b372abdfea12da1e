// The summary entry of a run in "fit.log".
#ifndef TORVEX_OUTPUT_FITLOG_H
#define TORVEX_OUTPUT_FITLOG_H

#include "torvex/structs.h"

#include <cstdio>

// The log in the current folder that every run appends its entry to.
constexpr const char *FIT_LOG = "fit.log";

// Writes the summary entry of one run into the open stream ftype.  sig
// holds the uncertainties, 1-based, ten per component in list order; each
// is printed scaled by sqrt(chi^2/ndof) (an uncertainty of 0 stays 0).
// Positions are printed as lowx + x - 1, lowy + y - 1.  Each component's
// position angle is normalised into (-90, 90] and stored back.  An output
// image that could not be written (output_written false) is named with
// "(not written)".  A fit in which no step was accepted (stalled) is noted
// below its reduced chi^2.
void fprintpar(int lowx, int lowy, fitpars *fpar, FILE *ftype, const char *newout,
               const double *sig, double chisq, int ndof, bool output_written = true,
               bool stalled = false);

// Appends the entry of fprintpar to FIT_LOG.
// Returns 0, or 1 after a message when the log cannot be written.
int fitlog(int lowx, int lowy, fitpars *fpar, const char *newout, const double *sig, double chisq,
           int ndof, bool output_written = true, bool stalled = false);

#endif
