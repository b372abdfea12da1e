// The light curve folded at a peak of the box search, with the box model of
// the peak, written as a text table or a FITS binary table.
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/Stopwatch.h"
#include "lightcurve/guards.h"
#include "lightcurve/helpers.h"
#include "lightcurve/phase.h"
#include "lightcurve/tables.h"

bool Lightcurve::boxedReady(int c, bool mags, bool with_boxval, int bins) const
{
    if (!peakReady(boxfitted, c, period_box.length(1)))
        return false;
    if (bins != 0 && !binCountReady(bins))
        return false;
    // An empty slot has no period to fold at.
    if (period_box(c) == 0) {
        std::cout << "error: no peak in slot " << c << "!" << std::endl;
        return false;
    }
    if (mags && !with_boxval)
        std::cout << "warning: magnitudes are written only with the boxval column; writing fluxes"
                  << std::endl;
    return true;
}

void Lightcurve::boxedValues(int c, bool mags, bool with_boxval, orv::MArray<double, 1> &f,
                             orv::MArray<double, 1> &e, orv::MArray<double, 1> &bv)
{
    const int m = phased_length;
    f.makeReference(phased_flux);
    e.makeReference(phased_error);
    bv.makeReference(phased_boxval);
    if (!with_boxval)
        return;
    const double q = tau_box(c), in = in_level_box(c), out = out_level_box(c);
    orv::MArray<double, 1> model(m, false);
    for (int i = 1; i <= m; ++i)
        model(i) = inTransitWindow(phase(i), q) ? in : out;
    phased_boxval.makeReference(model);
    bv.makeReference(model);
    if (!mags)
        return;
    // Converted copies: the folded light curve keeps its fluxes.
    orv::MArray<double, 1> magFlux(m, false), magError(m, false), magBox(m, false);
    for (int i = 1; i <= m; ++i) {
        magFlux(i) = flux2mag(phased_flux(i));
        magError(i) = magnitudeError(phased_flux(i), phased_error(i));
        magBox(i) = flux2mag(model(i));
    }
    f.makeReference(magFlux);
    e.makeReference(magError);
    bv.makeReference(magBox);
}

void Lightcurve::write_boxed(std::string file, int c, bool mags, bool with_nchi, bool with_filename,
                             bool with_boxval, int bins, bool parameters)
{
    if (!boxedReady(c, mags, with_boxval, bins))
        return;
    // A file that cannot be created is reported; the fold still takes place.
    std::ofstream out;
    openText(out, file);
    out << std::setprecision(8);
    if (parameters) {
        out << "# SDE = " << sde(c) << ", p = " << period_box(c)
            << ", t0 = " << std::setprecision(18) << t0_box(c) << std::setprecision(8)
            << ", tau = " << tau_box(c) << " filename = " << source_file << "\n#\n";
    }
    writeColumnLine(out, "#   phase        flux         error ", with_nchi, with_boxval,
                    with_filename);
    fold(period_box(c), t0_box(c));
    if (bins != 0)
        binning_phased(bins);
    orv::MArray<double, 1> f, e, bv;
    boxedValues(c, mags, with_boxval, f, e, bv);
    writeRows(out,
              {phase, 10, 8, f, e, phased_nchi, bv, phased_filename, with_nchi, with_boxval,
               with_filename},
              phased_length);
    closeText(out, file);
}

void Lightcurve::write_boxed_binary(std::string file, int c, bool mags, bool with_nchi, bool,
                                    bool with_boxval, int bins, bool)
{
    if (!boxedReady(c, mags, with_boxval, bins))
        return;
    Stopwatch watch("write_boxed_binary");
    watch.start();
    BinaryTable table(file, kFitsForWriting);
    fold(period_box(c), t0_box(c));
    watch.lap("folding");
    if (bins != 0)
        binning_phased(bins);
    watch.lap("binning");
    orv::MArray<double, 1> f, e, bv;
    boxedValues(c, mags, with_boxval, f, e, bv);
    watch.lap("calculationg boxval");
    table.putCurve(phased_length,
                   {{"phase", phase}, f, e, phased_nchi, bv, with_nchi, with_boxval});
    watch.stop("writing table");
    watch.printStatus();
}
