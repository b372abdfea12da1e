// One number in a column of fixed width, for aligned tables of fit results.
#ifndef PSFTOOLS_PRINTF_H
#define PSFTOOLS_PRINTF_H

#include <ostream>

// Built as an aggregate: printF{15, 5, value, 1}(std::cout) writes one blank
// and value right-aligned in 14 places with 5 decimals, switching to
// scientific or general notation when that would not fit.
struct printF {
    int width;    // total width of the column, indent included
    int digits;   // places after the decimal point; 0 lets the printer choose
    double value; // the number
    int indent;   // blanks written before the number's field

    // Writes the column on s and returns s. Leaves s in general notation with
    // the precision it chose; a field of fewer than four places shows "#"
    // marks instead of the number.
    std::ostream &operator()(std::ostream &s) const;
};

#endif
