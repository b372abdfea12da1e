// The binary table of a FITS file read back with CFITSIO directly: with
// fitsverify (tests/common), the independent side of the checks of the FITS
// tables.
#ifndef TESTS_LIGHTCURVE_FITSTABLE_H
#define TESTS_LIGHTCURVE_FITSTABLE_H

#include <fitsio.h>

#include <string>
#include <vector>

struct FitsTable {
    int status = 0; // of CFITSIO; the rest holds only when 0
    int hdus = 0;
    std::string extname;
    long rows = 0;
    std::vector<std::string> names, forms, units;
    std::vector<int> types; // CFITSIO type codes
    std::vector<std::vector<double>> values;
};

// The table in the second HDU of path.
inline FitsTable readTable(const std::string &path)
{
    FitsTable t;
    fitsfile *f = nullptr;
    int &s = t.status;
    char text[FLEN_VALUE];
    int columns = 0;
    if (fits_open_file(&f, path.c_str(), READONLY, &s))
        return t;
    fits_get_num_hdus(f, &t.hdus, &s);
    fits_movabs_hdu(f, 2, nullptr, &s);
    fits_read_key(f, TSTRING, "EXTNAME", text, nullptr, &s);
    t.extname = text;
    fits_get_num_rows(f, &t.rows, &s);
    fits_get_num_cols(f, &columns, &s);
    for (int c = 1; c <= columns && s == 0; ++c) {
        const std::string n = std::to_string(c);
        fits_read_key(f, TSTRING, ("TTYPE" + n).c_str(), text, nullptr, &s);
        t.names.push_back(text);
        fits_read_key(f, TSTRING, ("TFORM" + n).c_str(), text, nullptr, &s);
        t.forms.push_back(text);
        fits_read_key(f, TSTRING, ("TUNIT" + n).c_str(), text, nullptr, &s);
        t.units.push_back(text);
        int type = 0;
        long repeat = 0, width = 0;
        fits_get_coltype(f, c, &type, &repeat, &width, &s);
        t.types.push_back(type);
        std::vector<double> v(t.rows);
        if (t.rows > 0)
            fits_read_col(f, TDOUBLE, c, 1, 1, t.rows, nullptr, v.data(), nullptr, &s);
        t.values.push_back(v);
    }
    int closing = 0;
    fits_close_file(f, &closing);
    return t;
}

#endif
