// What the fit loop decides and shows after every iteration: the countdown
// of its stopping rule and the parameter lines.
#ifndef TORVEX_FIT_COUNTDOWN_H
#define TORVEX_FIT_COUNTDOWN_H

#include "torvex/model/component_types.h"
#include "torvex/structs.h"

#include <string>

// State of the stopping rule.  Held (cflag 0), the countdown shows the
// iterations left to the limit; once the chi^2 gains become small it runs
// (cflag 1) from 10 down by one per iteration, and the fit ends after the
// iteration that shows 0.  A large gain sets it back to held.
struct countdown_state {
    int cflag = 0;
    int countdown = 100;
    float olddelchi2 = 0;    // the last decrease that counted
    double history[11] = {}; // ring (1..10) of decreases over sqrt(chi2nu)
};

// Decides iteration n (1-based) after a step that took chi^2 from oldchisq
// to chisq with ndof degrees of freedom; dlim is the relative decrease below
// which gains are small (1e-4 for a normal fit, 0 otherwise).  Returns the
// countdown to show for this iteration and leaves the next one (the loop
// goes on while it is not negative) in cs->countdown.
int countdown_step(countdown_state *cs, int n, double chisq, double oldchisq, int ndof, double dlim,
                   int itermax);

// One line per component: type, position in image coordinates (lowx, lowy
// the fit region's first column and row), and its parameters.  Brings each
// position angle into (-90, 90] and stores it back.
void printpar(int lowx, int lowy, fitpars *fpar);

// The line of layout l (one of t's) that shows the component p of type t:
// its type word and position in image coordinates, or for the sky the
// reference point of its gradient, then its parameters.
std::string value_line(const component_type &t, const print_layout &l, const fitpars &p, int lowx,
                       int lowy);

#endif
