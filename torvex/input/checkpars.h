// Parameter values that no component can render (they would make its image
// NaN or infinite) are refused with a message.
#ifndef TORVEX_INPUT_CHECKPARS_H
#define TORVEX_INPUT_CHECKPARS_H

#include "torvex/structs.h"

// Why value cannot stand in slot 1..10 of a component of the type word, or
// null when it can.  Before completion (completed false) a King alpha of 0
// is accepted: completion turns it into 2.
const char *slot_problem(const char *type, int slot, float value, bool completed);

// Checks every component of the completed list: values that cannot be
// rendered, types this build cannot render, and magnitudes (with the
// zeropoint magzpt) or surface brightnesses (King and Nuker, with muzpt)
// that ask for more than 1e30 counts, whose images would overflow.  A list
// without any component is a problem too.  Prints
// one line per problem through pfunc and returns their number.
int check_components(const fitpars *fpar, float magzpt, float muzpt);

#endif
