// Light curves written as FITS binary tables.
#include <iostream>
#include <string>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/guards.h"
#include "lightcurve/tables.h"

void Lightcurve::write_binary(std::string file, bool with_nchi, bool with_boxval, bool, bool)
{
    if (!writableData(has_data))
        return;
    BinaryTable table(file, kForWriting);
    table.putCurve(length, {{"JD", jd, true}, flux, error, nchi, boxval, with_nchi, with_boxval});
}

void Lightcurve::write_folded_binary(std::string file, bool with_nchi, bool with_boxval, bool, bool)
{
    if (!foldReady(folded))
        return;
    BinaryTable table(file, kFitsForWriting);
    table.putCurve(phased_length, {{"phase", phase},
                                   phased_flux,
                                   phased_error,
                                   phased_nchi,
                                   phased_boxval,
                                   with_nchi,
                                   with_boxval});
}

void Lightcurve::write_SR_binary(std::string file, bool)
{
    if (!spectrumReady(boxfitted))
        return;
    BinaryTable table(file, kForWriting);
    table.start(sr.length(1));
    table.put({{"1/p", frequency}, {"SR", sr}});
}

void Lightcurve::write_nonoise_binary(std::string file, bool, bool)
{
    if (!nonoiseReady(nonoise))
        return;
    BinaryTable table(file, kForWriting);
    table.start(length);
    table.put({{"JD", jd, true}, {"flux", nonoise_flux}});
}

void Lightcurve::write_removed_binary(std::string file, bool, bool)
{
    if (!removedReady(transits_removed))
        return;
    BinaryTable table(file, kForWriting);
    table.start(length);
    table.put({{"JD", jd, true}, {"flux", removed_flux}, {"error", error}});
}
