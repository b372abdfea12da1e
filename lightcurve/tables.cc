#include "lightcurve/tables.h"

#include <CCfits/CCfits>
#include <cerrno>
#include <cmath>
#include <cstdlib>
// After CCfits: CFITSIO's parser of output names is declared here only, in
// a header without C linkage of its own.
extern "C" {
#include <fitsio2.h>
}
#include <iomanip>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "lightcurve/helpers.h"

void putNumber(std::ostream &out, double x, int width, int precision)
{
    out << std::setw(width) << std::setprecision(precision) << x;
}

double magnitudeError(double flux, double error)
{
    return std::fabs((flux2mag(flux + error) - flux2mag(flux - error)) / 2);
}

bool openText(std::ofstream &out, const std::string &name)
{
    out.open(name, std::ios::out | std::ios::trunc);
    if (out.is_open())
        return true;
    std::cerr << "error: cannot open file " << name << kForWriting << std::endl;
    return false;
}

void closeText(std::ofstream &out, const std::string &name)
{
    if (!out.is_open())
        return; // reported when it was opened
    out.close();
    if (out.fail())
        std::cerr << "error: cannot write file " << name << std::endl;
}

void writeColumnLine(std::ostream &out, const char *first, bool with_nchi, bool with_boxval,
                     bool with_filename)
{
    out << first;
    if (with_nchi)
        out << "     nchi   ";
    if (with_boxval)
        out << "   boxval   ";
    if (with_filename)
        out << "             filename               ";
    out << "\n#\n";
}

void writeRows(std::ostream &out, const TextColumns &c, int n)
{
    for (int i = 1; i <= n; ++i) {
        putNumber(out, c.x(i), c.width, c.precision);
        out << "    ";
        putNumber(out, c.flux(i), 10, 8);
        out << "    ";
        putNumber(out, c.error(i), 10, 8);
        out << "  ";
        if (c.with_nchi) {
            putNumber(out, c.nchi(i), 10, 8);
            out << "  ";
        }
        if (c.with_boxval) {
            putNumber(out, c.boxval(i), 10, 8);
            out << "  ";
        }
        if (c.with_filename)
            out << std::setw(34) << c.filename(i) << "  ";
        out << '\n';
    }
}

namespace {

template <class T>
std::vector<T> firstElements(const orv::MArray<double, 1> &a, int n)
{
    std::vector<T> v(n);
    for (int i = 1; i <= n; ++i)
        v[i - 1] = static_cast<T>(a(i));
    return v;
}

// Whether CFITSIO creates the file of exactly this name: no other kind of
// output (standard output, memory), and no template, extension or
// compression given in brackets or parentheses, which CFITSIO would take
// from the name after it has replaced the file of the name's first part.
bool plainFitsName(const std::string &name)
{
    if (name.empty() || name.size() >= FLEN_FILENAME)
        return false;
    char type[FLEN_FILENAME] = "", file[FLEN_FILENAME] = "", templ[FLEN_FILENAME] = "",
         spec[FLEN_FILENAME] = "";
    int status = 0;
    ffourl(const_cast<char *>(name.c_str()), type, file, templ, spec, &status);
    const std::string kind = type;
    return status == 0 && (kind == "file://" || kind == "compressoutfile://") && file == name &&
           templ[0] == '\0' && spec[0] == '\0';
}

// Whether a file of the name may be created, replacing whatever has the
// name: nothing does, or a regular file that may be written. A folder, a
// device or a write-protected file is never removed.
bool replaceable(const std::string &name)
{
    struct stat st;
    if (stat(name.c_str(), &st) != 0)
        return errno == ENOENT; // a missing folder on the way fails below
    return S_ISREG(st.st_mode) && access(name.c_str(), W_OK) == 0;
}

} // namespace

BinaryTable::BinaryTable(const std::string &name, const char *failure) : name(name)
{
    try {
        if (plainFitsName(name) && replaceable(name)) {
            // The leading "!" makes CFITSIO replace an existing file instead
            // of opening it for an update.
            fits.reset(
                new CCfits::FITS("!" + name, CCfits::Write, false, std::vector<std::string>()));
        }
    } catch (CCfits::FitsException &) {
    }
    if (!fits) {
        std::cerr << "error: cannot open file " << name << failure << std::endl << std::endl;
        std::exit(-1);
    }
}

BinaryTable::~BinaryTable()
{
    // CCfits closes the file without a word about what it could not write.
    attempt([this] { fits->flush(); });
}

template <class Step>
void BinaryTable::attempt(Step step)
{
    if (failed)
        return;
    try {
        step();
    } catch (CCfits::FitsException &) {
        failed = true;
        std::cerr << "error: cannot write file " << name << std::endl;
    }
}

void BinaryTable::start(int n)
{
    rows = n;
    attempt([this] {
        const std::vector<std::string> none;
        table = fits->addTable("TABLE_BINARY", 0, none, none, none, CCfits::BinaryTbl, 1);
    });
}

void BinaryTable::put(std::initializer_list<TableColumn> columns)
{
    attempt([&] {
        for (const TableColumn &c : columns)
            table->addColumn(c.wide ? CCfits::Tdouble : CCfits::Tfloat, c.name, 1, "none", -1, 0);
        if (rows == 0)
            return; // nothing to write
        for (const TableColumn &c : columns) {
            CCfits::Column &column = table->column(c.name);
            if (c.wide)
                column.write(firstElements<double>(c.values, rows), 1);
            else
                column.write(firstElements<float>(c.values, rows), 1);
        }
    });
}

void BinaryTable::putCurve(int n, const CurveColumns &c)
{
    start(n);
    put({c.x, {"flux", c.flux}, {"error", c.error}});
    if (c.with_nchi)
        put({{"nchi", c.nchi}});
    if (c.with_boxval)
        put({{"boxval", c.boxval}});
}
