// Output helpers of the light-curve files: fixed-width number fields of the
// text tables, text files whose failures are reported, and FITS files of one
// binary table "TABLE_BINARY" written through CCfits.
#ifndef LIGHTCURVE_TABLES_H
#define LIGHTCURVE_TABLES_H

#include <fstream>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>

#include "orv/MArray.h"

namespace CCfits {
class FITS;
class Table;
} // namespace CCfits

// Writes x in the general notation with `precision` significant digits,
// right-aligned in `width` characters (printf's %width.precisiong).
void putNumber(std::ostream &out, double x, int width, int precision);

// An error in magnitudes: half the magnitude difference of flux - error and
// flux + error, a positive number.
double magnitudeError(double flux, double error);

// Opens name for writing, replacing an existing file; prints "error: cannot
// open file <name> for writing" on standard error and returns false when it
// cannot.
bool openText(std::ofstream &out, const std::string &name);
// Closes a file opened by openText; prints "error: cannot write file <name>"
// on standard error when some of it could not be written.
void closeText(std::ofstream &out, const std::string &name);

// Writes the column line of a text table: `first` (the titles of time or
// phase, flux and error), then the titles of the optional columns switched
// on; then the line "#".
void writeColumnLine(std::ostream &out, const char *first, bool with_nchi, bool with_boxval,
                     bool with_filename);

// The columns of the rows of a text table: x as %width.precisiong, flux and
// error as %10.8g, then the optional columns switched on: nchi and boxval as
// %10.8g, file names right-aligned in 34 characters.
struct TextColumns {
    orv::MArray<double, 1> x;
    int width, precision;
    orv::MArray<double, 1> flux, error, nchi, boxval;
    orv::MArray<std::string, 1> filename;
    bool with_nchi, with_boxval, with_filename;
};
// Writes rows 1..n.
void writeRows(std::ostream &out, const TextColumns &c, int n);

// One column of a binary table: elements 1..rows of values, stored as double
// when wide is set and as float otherwise.
struct TableColumn {
    std::string name;
    orv::MArray<double, 1> values;
    bool wide = false;
};

// The columns of the binary table of a light curve: x (JD or phase), flux
// and error, then nchi and boxval where switched on.
struct CurveColumns {
    TableColumn x;
    orv::MArray<double, 1> flux, error, nchi, boxval;
    bool with_nchi, with_boxval;
};

// What the refusal of a FITS file says after its name: " for writing", and
// for the folded light curves " fits for writing".
inline const char *const kForWriting = " for writing";
inline const char *const kFitsForWriting = " fits for writing";

// A FITS file holding one binary table. An existing regular file of the
// name that may be written is replaced, so that writing twice never adds a
// second table or duplicate columns to the first.
class BinaryTable {
public:
    // When the file cannot be created (nor one of that name replaced: a
    // folder, a write-protected file; nor a name that CFITSIO reads as more
    // than a file name, such as "x.fits[1]"), prints "error: cannot open
    // file ", the name, `failure` and two newlines on standard error and
    // ends the process with status 255.
    BinaryTable(const std::string &name, const char *failure);
    // Closes the file. A part that could not be written is reported once,
    // "error: cannot write file <name>" on standard error; the writing
    // stops there.
    ~BinaryTable();
    BinaryTable(const BinaryTable &) = delete;
    BinaryTable &operator=(const BinaryTable &) = delete;

    // Adds the table "TABLE_BINARY", whose columns hold `rows` values.
    void start(int rows);
    // Adds the columns (unit "none"), then writes each from row 1.
    void put(std::initializer_list<TableColumn> columns);
    // Adds the table with `rows` rows of a light curve: x, flux and error
    // first, then nchi and boxval where switched on, each put in turn.
    void putCurve(int rows, const CurveColumns &c);

private:
    // Runs a step of the writing unless one has failed; reports a failure.
    template <class Step>
    void attempt(Step step);

    std::string name;
    std::unique_ptr<CCfits::FITS> fits;
    CCfits::Table *table = nullptr;
    int rows = 0;
    bool failed = false;
};

#endif
