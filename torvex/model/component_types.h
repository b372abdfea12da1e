// The component types: one descriptor per type, holding everything that the
// type means outside its renderer.  The parameter-file reader and editor,
// the menu, the parameter lines of the fit and of fit.log, the header of
// the output, the checks and the completion of a component all read it, so
// a new profile is its descriptor here and its renderer.
//
// Every component carries ten parameter slots a[1..10] (fitpars); what a
// slot holds depends on the type, but the slots below mean the same to
// every type that uses them, and code that means one of them names it.
#ifndef TORVEX_MODEL_COMPONENT_TYPES_H
#define TORVEX_MODEL_COMPONENT_TYPES_H

#include "torvex/model/ellipse.h"
#include "torvex/structs.h"

#include <string>

constexpr int NSLOTS = 10;

// Slots of every component with a position (all but the sky).
constexpr int SLOT_X = 1;    // centre, column
constexpr int SLOT_Y = 2;    // centre, row
constexpr int SLOT_MAG = 3;  // total magnitude, or surface brightness
constexpr int SLOT_SIZE = 4; // the profile's radius or width in pixels
constexpr int SLOT_Q = 8;    // axis ratio b/a
constexpr int SLOT_PA = 9;   // position angle in degrees
constexpr int SLOT_C = 10;   // diskiness (< 0) or boxiness (> 0)

// Slots whose meaning is the type's own.
constexpr int SLOT_SERSIC_N = 5;
constexpr int SLOT_MOFFAT_POWER = 5;
constexpr int SLOT_KING_RT = 5;
constexpr int SLOT_KING_ALPHA = 6;
constexpr int SLOT_NUKER_ALPHA = 5;
constexpr int SLOT_NUKER_BETA = 6;
constexpr int SLOT_NUKER_GAMMA = 7;

// The sky plane: its level at the reference point and its two slopes.
constexpr int SLOT_SKY = 1;
constexpr int SLOT_DSKY_DX = 2;
constexpr int SLOT_DSKY_DY = 3;

// How a type's light reaches the model.
enum class component_kind {
    profile, // a light profile on a generalised ellipse, convolved inside its box
    point,   // a point source: the PSF itself, never convolved again
    plane,   // the sky: no position of its own, never convolved
};

// What slot 3 of a type holds.
enum class brightness {
    none,      // not a brightness (the sky's slope)
    magnitude, // a total magnitude (zeropoint J)
    surface,   // a surface brightness per pixel (zeropoint J + 2.5 log10(dx dy))
};

// What completion does with a slot.
enum class slot_use {
    parameter, // a parameter of the type: the file sets its value and flag
    unused,    // no parameter: its flag becomes -1
    fixed,     // no parameter, but its flag becomes 0 (fixed) rather than -1
    preset,    // its value is the descriptor's and its flag 0
};

// One slot of a type.
struct slot_desc {
    slot_use use = slot_use::unused;
    const char *label = nullptr;   // header keyword after "<n>_"; null: no card
    const char *meaning = nullptr; // header comment
    const char *unit = nullptr;    // appended to the comment in brackets; null: none
    const char *menu = nullptr;    // the parameter-file comment after '#'; null: no line
    // A finite value for which valid is false cannot be rendered: it is
    // refused with problem.  Null: every finite value is valid.
    bool (*valid)(float) = nullptr;
    const char *problem = nullptr;
    // preset: the value.  parameter: when not 0, the value that a 0 becomes
    // on completion (fixed), and a 0 is accepted before it.
    float value = 0;
    bool size = false; // a length in pixels, scaled with the PSF's oversampling
    // Its names in a constraint file, lower case and blank-separated; a
    // word that begins with one of them names the slot.  Null: none.
    const char *names = nullptr;
};

// A printed line of a component: a head, formatted by the caller (type
// word and position, or the reference point of the sky), then the fields in
// order, each format applied to the value of its slot; a field of slot 0 is
// plain text.  A null format ends the fields.
struct print_field {
    int slot;
    const char *format;
};
struct print_layout {
    const char *head;
    print_field field[NSLOTS + 2];
};

struct component_type {
    const char *word; // the type in the parameter file ("0) sersic")
    component_kind kind;
    brightness bright;
    component_function render;
    slot_desc slot[NSLOTS + 1]; // 1..10
    print_layout iteration;     // the line of every fit iteration
    print_layout log_value;     // the value line of the fit.log entry
    print_layout log_error;     // the uncertainty line below it
};

// The descriptor of a type word, recognised by its first characters (so that
// "sersic2" is a "sersic"); null for a word of no type.
const component_type *find_component_type(const char *word);

// The descriptors in the order of the menu's list of types; *n receives
// their number.
const component_type *component_types(int *n);

// True for a component with a position of its own in slots 1 and 2 (every
// type but the sky, and an unknown word): positions move with the fit
// region and the parameter file gives them on one line.
bool has_position(const char *word);

// The slot of a component of the type word that a constraint-file name
// (lower case) stands for; 0 when the type has no parameter of that name.
int named_slot(const char *type, const char *name);

// Why value cannot stand in slot 1..10 of a component of the type word, or
// null when it can.  Before completion (completed false) a 0 that
// completion replaces (the King alpha) is accepted.
const char *slot_problem(const char *type, int slot, float value, bool completed);

// The header comment of a slot: its meaning, and its unit in brackets.
std::string slot_comment(const slot_desc &s);

// printf into a string of whatever length the text needs.
std::string format_text(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A printed line: head, then every field of l with values[slot] (values
// indexed by slot, 1..10).
std::string print_line(const print_layout &l, const std::string &head, const double *values);

#endif
