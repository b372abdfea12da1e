// The parameter file: reader and the interactive editor.  One line syntax
// serves the file named on the command line, files read from the editor
// with T, and the lines typed into the editor.
#ifndef TORVEX_INPUT_READ_INPUT_H
#define TORVEX_INPUT_READ_INPUT_H

#include "torvex/structs.h"

#include <cstdio>

// Longest line kept from a file or from the editor; the rest of a longer
// line is dropped with a notice.  Room for a key and two full file names.
constexpr int PARLINE_LEN = 4095;

// Reads the parameter file named in input->initparfile (prompting for a
// name when it is empty, which also turns the editor on), then prints the
// menu and runs the editor while input->interact is 1.  Returns 0, or 1
// when a file named on the command line cannot be opened (after a message
// on standard error).
int read_input(inpars *input, fitpars *fpar);

// What checkpar keeps while it reads one file: whether the lines of a
// component of an unknown type are being skipped.
struct file_reading {
    bool skipping = false;
};

// Applies one parameter-file or editor line.  *cur is the current
// component number (1-based).  file is the state of the file the line
// comes from, null for a line typed into the editor.  In a file, an
// unknown component type is reported and its block skipped (until the
// next component or "M n") rather than asked for again on standard input,
// and a component added becomes the current one; in the editor it does
// not.
void checkpar(const char *line, inpars *input, fitpars *fpar, int *cur, file_reading *file);

// Reads every line of an open parameter file through checkpar, with
// totnobj as the current component number.
void read_template(FILE *f, inpars *input, fitpars *fpar);

// Reads one line from standard input into buf (at most n-1 characters, no
// newline).  Returns the number of characters kept, or -1 at end of input.
int mygetline(char *buf, int n);

// Reads and discards one line of standard input.
void clearbuff();

// Removes component n (1..sample->nobjs) and decrements sample->nobjs.
void del_obj(fitpars *fpar, int n, sampars *sample);

// Frees the nodes behind the list head (the head belongs to its owner).
void free_objects(fitpars *fpar);

#endif
