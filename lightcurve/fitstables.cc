// Light curves written as FITS binary tables.
#include <iostream>
#include <string>

#include "lightcurve/Lightcurve.h"
#include "lightcurve/guards.h"
#include "lightcurve/tables.h"

namespace {

const char *const kForWriting = " for writing";

} // namespace

void Lightcurve::write_binary(std::string file, bool with_nchi, bool with_boxval, bool, bool)
{
    if (!writableData(has_data))
        return;
    BinaryTable table(file, kForWriting);
    table.start(length);
    table.put({{"JD", jd, true}, {"flux", flux}, {"error", error}});
    if (with_nchi)
        table.put({{"nchi", nchi}});
    if (with_boxval)
        table.put({{"boxval", boxval}});
}

void Lightcurve::write_folded_binary(std::string file, bool with_nchi, bool with_boxval, bool, bool)
{
    if (!foldReady(folded))
        return;
    BinaryTable table(file, " fits for writing");
    table.start(phased_length);
    table.put({{"phase", phase}, {"flux", phased_flux}, {"error", phased_error}});
    if (with_nchi)
        table.put({{"nchi", phased_nchi}});
    if (with_boxval)
        table.put({{"boxval", phased_boxval}});
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
