// Parameter constraints: the constraint file and its use on every trial step.
//
// One constraint per line, words separated by blanks or tabs:
//   c p lo hi        slot p of component c within [start + lo, start + hi]
//   c p lo to hi     slot p of component c within [lo, hi]
//   c1-c2 p lo hi    a[p] of c1 minus a[p] of c2 within [lo, hi]
//   c1/c2 p lo hi    a[p] of c1 divided by a[p] of c2 within [lo, hi]
//   c1+c2, c1*c2     read, without effect
// The operator of a pair may also stand apart from the numbers.  p is a slot
// number or the name of a parameter of the component's type (named_slot of
// component_types.h; a pair's two types must both have it).  Lines starting
// with '#', blank lines and the text after a '#' are ignored.
#ifndef TORVEX_FIT_CONSTRAINTS_H
#define TORVEX_FIT_CONSTRAINTS_H

#include "torvex/structs.h"

// What read_cons made of the file.
enum {
    CONS_READ = 0,       // every line was taken
    CONS_UNREADABLE = 1, // the file cannot be opened or read
    CONS_LINES_LEFT = 2, // a line was refused, or a short line ended the reading
};

// Reads the file named by input.constraints into the list headed by constr
// (the head is emptied first; further nodes are allocated here and live until
// the process ends).  A line that names a component, a slot or a parameter
// name that the component list fpar does not have (a slot that the
// component's type keeps fixed, such as a de Vaucouleurs' index, included),
// a pair of a component with itself, a ratio bound of 0, a bound that is
// not a number a float can hold and a line that does not scan are refused
// with a message naming the line and the reason; the other lines are still
// read.  A line of fewer than four words ends the reading there, with a
// message.  A name that cannot be read as a file (a folder) counts as a
// file that cannot be opened.  Nodes behind the head from an earlier call
// are released first.  Returns one of the values above.
int read_cons(const inpars &input, cons *constr, const fitpars *fpar);

// Moves the absolute ranges ("to") of the positions (slots 1 and 2 of every
// component but a sky) by xoff and yoff, as the fit moves the positions
// between image and fit-region coordinates: the file gives them in image
// coordinates.  Ranges relative to the start value and differences need no
// move; a ratio of positions is left as it is.
void offset_constraints(cons *constr, const fitpars *fpar, float xoff, float yoff);

// Releases the nodes behind the head (the head belongs to its owner) and
// leaves the list empty.
void free_cons(cons *constr);

// Applies the list to the trial vector atry[1..ma] (ten slots per component,
// entry 10*(c-1)+s), in list order: a is the vector before this step, aorig
// the vector when the fit was set up, ia the fit flags.  Single constraints
// act on any slot; a pair constraint moves only a free slot.
void constraints(int ma, float *atry, const float *a, const int *ia, const cons *constr,
                 const float *aorig);

// The slot number of a parameter name ("x", "re", "b/a", ... or the number
// itself); -1 for a name it does not know.  Lower-cases the word in place.
int parconv(char *word);

// 1-based position of the first character of s that occurs in set; 0 when
// none does.
int findpos(const char *s, const char *set);

// 1 when s holds only blanks, tabs and line ends up to its end or a '#'.
int blankstr(const char *s);

void conv2lower(char *s);

#endif
