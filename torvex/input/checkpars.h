// Parameter values that no component can render (they would make its image
// NaN or infinite) are refused with a message.
#ifndef TORVEX_INPUT_CHECKPARS_H
#define TORVEX_INPUT_CHECKPARS_H

#include "torvex/model/component_types.h" // slot_problem
#include "torvex/structs.h"

// Checks every component of the completed list: values that cannot be
// rendered, types this build cannot render, and magnitudes (with the
// zeropoint magzpt) or surface brightnesses (with muzpt)
// that ask for more than 1e30 counts, whose images would overflow.  A list
// without any component is a problem too.  Prints
// one line per problem through pfunc and returns their number.
int check_components(const fitpars *fpar, float magzpt, float muzpt);

#endif
