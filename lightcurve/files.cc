// Light curves read from text tables and raw records, and written as text
// tables.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/guards.h"
#include "lightcurve/helpers.h"
#include "lightcurve/sorting.h"
#include "lightcurve/tables.h"
#include "orv/fits/ascio.h"

namespace {

// Whether some data line of the file has a third column.
bool hasThirdColumn(orv::AscFile &file)
{
    bool found = false;
    std::string line, word;
    // Every line is read, so that the file is back at its start afterwards.
    while (file.readNextLine_(line)) {
        std::istringstream words(line);
        int n = 0;
        while (n < 3 && words >> word)
            ++n;
        found = found || n == 3;
    }
    return found;
}

// The errors in column 3; a file without that column gives errors of 1.
// Column 3 in some lines only, or a value in it that is no number, is an
// error of the file like one in any other column.
orv::MArray<double, 1> errorColumn(orv::AscFile &file, int n)
{
    try {
        return file.readWholeDoubleColumn(3);
    } catch (const orv::IOException &) {
        if (hasThirdColumn(file))
            throw;
    }
    return filled(n, 1.0);
}

orv::MArray<std::string, 1> textColumn(orv::AscFile &file, int c)
{
    std::vector<std::string> texts;
    const int n = file.readColumn(c, texts);
    orv::MArray<std::string, 1> a(n);
    for (int i = 1; i <= n; ++i)
        a(i) = texts[i - 1];
    return a;
}

// Opens file, lets write fill it and closes it; a file that cannot be opened
// is reported and left unwritten.
template <class Write>
void writeText(const std::string &file, Write write)
{
    std::ofstream out;
    if (!openText(out, file))
        return;
    write(out);
    closeText(out, file);
}

// The table of dates and fluxes (magnitudes where mags), with a column of
// the errors where they are given, of rows 1..n.
void writeDatedFluxes(std::ostream &out, const orv::MArray<double, 1> &jd,
                      const orv::MArray<double, 1> &flux, const orv::MArray<double, 1> *error,
                      bool mags, int n)
{
    out << "#   date         flux         error \n#\n";
    for (int i = 1; i <= n; ++i) {
        const double f = flux(i);
        putNumber(out, jd(i), 10, 18);
        out << "    ";
        putNumber(out, mags ? flux2mag(f) : f, 10, 8);
        if (error != nullptr) {
            const double e = (*error)(i);
            out << "    ";
            putNumber(out, mags ? magnitudeError(f, e) : e, 10, 8);
            out << "  ";
        }
        out << '\n';
    }
}

} // namespace

void Lightcurve::replaceBy(const Lightcurve &points, const std::string &file, bool mags)
{
    *this = points;
    magnitudes = mags;
    source_file = file;
}

void Lightcurve::read(std::string file, bool mags, int nchi_column, int boxval_column,
                      int filename_column)
{
    // The old data go first: a read that fails leaves no data.
    replaceBy(Lightcurve(), file, mags);
    orv::AscFile table(file, 0, "#");
    orv::MArray<double, 1> t = table.readWholeDoubleColumn(1);
    orv::MArray<double, 1> f = table.readWholeDoubleColumn(2);
    const int n = t.length(1);
    orv::MArray<double, 1> e = errorColumn(table, n);
    orv::MArray<double, 1> nc =
        nchi_column != 0 ? table.readWholeDoubleColumn(nchi_column) : filled(n, 0.0);
    orv::MArray<double, 1> bv =
        boxval_column != 0 ? table.readWholeDoubleColumn(boxval_column) : filled(n, 0.0);
    orv::MArray<std::string, 1> names =
        filename_column != 0 ? textColumn(table, filename_column) : noFileNames(n);
    replaceBy(Lightcurve(t, f, e, nc, names), file, mags);
    boxval.makeReference(bv);
    noise = rms(atCountedPoints(flux));
}

template <class Number>
void Lightcurve::readRecords(const std::string &file, bool mags)
{
    replaceBy(Lightcurve(), file, mags);
    std::ifstream in(file, std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) {
        std::cerr << "error: cannot open file " << file << " for reading" << std::endl;
        return;
    }
    const std::streamoff records = size / static_cast<std::streamoff>(3 * sizeof(Number));
    // Record by record: what the size promises need not be there (a folder
    // reports a size but holds no records).
    in.seekg(0);
    std::vector<Number> values;
    Number record[3];
    for (std::streamoff i = 0;
         i < records && in.read(reinterpret_cast<char *>(record), sizeof record); ++i)
        values.insert(values.end(), record, record + 3);
    if (static_cast<std::streamoff>(values.size()) != 3 * records) {
        std::cerr << "error: cannot read file " << file << std::endl;
        return;
    }
    const int n = static_cast<int>(records);
    orv::MArray<double, 1> t(n, false), f(n, false), e(n, false);
    for (int i = 1; i <= n; ++i) {
        t(i) = values[3 * i - 3];
        f(i) = values[3 * i - 2];
        e(i) = values[3 * i - 1];
    }
    replaceBy(Lightcurve(t, f, e), file, mags);
}

void Lightcurve::read_binary(std::string file, bool mags)
{
    readRecords<double>(file, mags);
}

void Lightcurve::read_binary_float(std::string file, bool mags)
{
    readRecords<float>(file, mags);
}

void Lightcurve::write(std::string file, bool with_nchi, bool with_boxval, bool with_filename,
                       bool parameters)
{
    if (!writableData(has_data))
        return;
    writeText(file, [&](std::ostream &out) {
        if (parameters) {
            out << "#\n# lightcurve parameters:\n#\n";
            const auto line = [&out](const char *label, double value, int precision) {
                out << label << std::setprecision(precision) << value << '\n';
            };
            line("# M_star:      ", m_star, 6);
            line("# R_star:      ", r_star, 6);
            line("# gamma1:      ", gamma1, 6);
            line("# gamma2:      ", gamma2, 6);
            line("# R_planet:    ", r_planet, 6);
            line("# inclination: ", inclination, 6);
            line("# period:      ", period, 12);
            line("# t0:          ", t0, 14);
            line("# drop:        ", drop, 6);
            line("# noise:       ", noise, 6);
            line("# rednoise:    ", rednoise, 6);
            out << "#\n";
            if (transits_removed)
                line("# rms of lightcurve:            ", getRms_removed(), 6);
            else
                out << "# rms of lightcurve:            0.\n";
            line("# signal-to-noise ratio:        ", snr, 6);
            line("# fractional transit length:    ", tau, 6);
            out << "# number of transits:           " << number_transits << '\n';
            out << "# number of trasint datapoints: ";
            if (number_transits < 1) {
                out << "0";
            } else {
                out << number_transit_points << " ( ";
                // The box-shaped simulation counts transits without the points
                // of each.
                const int known = std::min(number_transits, points_per_transit.length(1));
                for (int i = 1; i <= known; ++i)
                    out << (i > 1 ? ", " : "") << points_per_transit(i);
                out << " )";
            }
            out << "\n#\n#\n";
        }
        writeColumnLine(out, "#      date           flux          error ", with_nchi, with_boxval,
                        with_filename);
        writeRows(out,
                  {jd, 16, 14, flux, error, nchi, boxval, filename, with_nchi, with_boxval,
                   with_filename},
                  length);
    });
}

void Lightcurve::write_nonoise(std::string file, bool mags, bool)
{
    if (!nonoiseReady(nonoise))
        return;
    writeText(file, [&](std::ostream &out) {
        writeDatedFluxes(out, jd, nonoise_flux, nullptr, mags, length);
    });
}

void Lightcurve::write_removed(std::string file, bool mags, bool)
{
    if (!removedReady(transits_removed))
        return;
    writeText(file, [&](std::ostream &out) {
        writeDatedFluxes(out, jd, removed_flux, &error, mags, length);
    });
}

void Lightcurve::write_SR(std::string file, bool)
{
    if (!spectrumReady(boxfitted))
        return;
    writeText(file, [&](std::ostream &out) {
        out << "#        1/p             SR\n#\n";
        for (int i = 1; i <= sr.length(1); ++i) {
            putNumber(out, frequency(i), 16, 10);
            out << ' ';
            putNumber(out, sr(i), 16, 10);
            out << '\n';
        }
    });
}

void Lightcurve::write_folded(std::string file, bool with_nchi, bool with_boxval,
                              bool with_filename, bool)
{
    if (!foldReady(folded))
        return;
    writeText(file, [&](std::ostream &out) {
        writeColumnLine(out, "#   date         flux         error ", with_nchi, with_boxval,
                        with_filename);
        writeRows(out,
                  {phase, 10, 8, phased_flux, phased_error, phased_nchi, phased_boxval,
                   phased_filename, with_nchi, with_boxval, with_filename},
                  phased_length);
    });
}
