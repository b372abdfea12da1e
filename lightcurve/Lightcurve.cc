#include "lightcurve/Lightcurve.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

#include "lightcurve/filled.h"
#include "lightcurve/guards.h"
#include "lightcurve/weights.h"

namespace {

// Makes field share the elements of given, indexed from 1 whatever given's
// base.
template <class T>
void share(orv::MArray<T, 1> &field, orv::MArray<T, 1> &given)
{
    given.setrange(1, orv::Range::all());
    field.makeReference(given);
}

// Element i of a, or none with the range message when a has no element i.
template <class T>
T elementOr(const orv::MArray<T, 1> &a, int i, T none)
{
    return indexInRange(i, a.length(1)) ? a(a.firstIndex(1) + i - 1) : none;
}

// Element i of a result of the box search, or -1 (reported) when there was
// no search or there is no element i.
double boxResult(bool boxfitted, const orv::MArray<double, 1> &a, int i)
{
    return boxResultsReady(boxfitted) ? elementOr(a, i, -1.0) : -1.0;
}

// The first `most` entries 1..n that count: those with a finite x(i) and
// y(i) (a time or phase and a flux) whose error e(i) weighs them, or, where
// no error weighs and some are 0, those of error 0, which then weigh alike.
std::vector<int> counted(const orv::MArray<double, 1> &x, const orv::MArray<double, 1> &y,
                         const orv::MArray<double, 1> &e, int n, bool *alike,
                         std::size_t most = std::numeric_limits<std::size_t>::max())
{
    const auto finite = [&](int i) { return std::isfinite(x(i)) && std::isfinite(y(i)); };
    std::vector<int> points;
    points.reserve(std::min(static_cast<std::size_t>(std::max(n, 0)), most));
    int zero = 0; // the first finite entry of error 0
    for (int i = 1; i <= n && points.size() < most; ++i) {
        if (!finite(i))
            continue;
        if (weighs(e(i)))
            points.push_back(i);
        else if (zero == 0 && e(i) == 0)
            zero = i;
    }
    const bool noiseless = points.empty() && zero != 0;
    if (noiseless)
        for (int i = zero; i <= n && points.size() < most; ++i)
            if (finite(i) && e(i) == 0)
                points.push_back(i);
    if (alike != nullptr)
        *alike = noiseless;
    return points;
}

bool sameLength(int n, int a, int b, int c, int d)
{
    if (a == n && b == n && c == n && d == n)
        return true;
    std::cout << "vectors have different lengths!" << std::endl;
    return false;
}

} // namespace

Lightcurve::Lightcurve() = default;

Lightcurve::Lightcurve(orv::MArray<double, 1> jd_, orv::MArray<double, 1> flux_,
                       orv::MArray<double, 1> error_)
    : Lightcurve(jd_, flux_, error_, filled(jd_.length(1), 0.0), noFileNames(jd_.length(1)))
{
}

Lightcurve::Lightcurve(orv::MArray<double, 1> jd_, orv::MArray<double, 1> flux_,
                       orv::MArray<double, 1> error_, orv::MArray<double, 1> nchi_)
    : Lightcurve(jd_, flux_, error_, nchi_, noFileNames(jd_.length(1)))
{
}

Lightcurve::Lightcurve(orv::MArray<double, 1> jd_, orv::MArray<double, 1> flux_,
                       orv::MArray<double, 1> error_, orv::MArray<std::string, 1> filename_)
    : Lightcurve(jd_, flux_, error_, filled(jd_.length(1), 0.0), filename_)
{
}

Lightcurve::Lightcurve(orv::MArray<double, 1> jd_, orv::MArray<double, 1> flux_,
                       orv::MArray<double, 1> error_, orv::MArray<double, 1> nchi_,
                       orv::MArray<std::string, 1> filename_)
{
    const int n = jd_.length(1);
    // A refused light curve has no points: its arrays are empty, so a length
    // other than 0 would send the operations outside them.
    if (!sameLength(n, flux_.length(1), error_.length(1), nchi_.length(1), filename_.length(1)))
        return;
    length = n;
    has_data = true;
    share(jd, jd_);
    share(flux, flux_);
    share(error, error_);
    share(nchi, nchi_);
    share(filename, filename_);
    weights.makeReference(filled(n, 0.0));
    boxval.makeReference(filled(n, 0.0));
}

Lightcurve &Lightcurve::operator=(const Lightcurve &other)
{
    filename.makeReference(other.filename);
    phased_filename.makeReference(other.phased_filename);
    jd.makeReference(other.jd);
    flux.makeReference(other.flux);
    error.makeReference(other.error);
    weights.makeReference(other.weights);
    nchi.makeReference(other.nchi);
    boxval.makeReference(other.boxval);
    phase.makeReference(other.phase);
    phased_flux.makeReference(other.phased_flux);
    phased_error.makeReference(other.phased_error);
    phased_weights.makeReference(other.phased_weights);
    phased_nchi.makeReference(other.phased_nchi);
    phased_boxval.makeReference(other.phased_boxval);
    removed_flux.makeReference(other.removed_flux);
    nonoise_flux.makeReference(other.nonoise_flux);
    sr.makeReference(other.sr);
    frequency.makeReference(other.frequency);
    sde.makeReference(other.sde);
    period_box.makeReference(other.period_box);
    reserved_box.makeReference(other.reserved_box);
    out_level_box.makeReference(other.out_level_box);
    in_level_box.makeReference(other.in_level_box);
    tau_box.makeReference(other.tau_box);
    t0_box.makeReference(other.t0_box);
    points_per_transit.makeReference(other.points_per_transit);

    has_data = other.has_data;
    weighted = other.weighted;
    folded = other.folded;
    boxfitted = other.boxfitted;
    transits_removed = other.transits_removed;
    nonoise = other.nonoise;
    magnitudes = other.magnitudes;
    analytical = other.analytical;

    length = other.length;
    phased_length = other.phased_length;
    number_transit_points = other.number_transit_points;
    number_transits = other.number_transits;

    rednoise = other.rednoise;
    noise = other.noise;
    norm = other.norm;
    period = other.period;
    tau = other.tau;
    t0 = other.t0;
    drop = other.drop;
    snr = other.snr;
    inclination = other.inclination;
    m_star = other.m_star;
    r_star = other.r_star;
    r_planet = other.r_planet;
    gamma1 = other.gamma1;
    gamma2 = other.gamma2;

    source_file = other.source_file;
    return *this;
}

bool Lightcurve::checkData() const
{
    return dataReady(has_data);
}

std::vector<int> Lightcurve::countedPoints(bool *alike) const
{
    return counted(jd, flux, error, length, alike);
}

std::vector<int> Lightcurve::countedEntries(bool *alike) const
{
    return counted(phase, phased_flux, phased_error, phased_length, alike);
}

int Lightcurve::firstCountedPoint() const
{
    // The list stops at its first point: no need to look at the others.
    const std::vector<int> first = counted(jd, flux, error, length, nullptr, 1);
    return first.empty() ? 0 : first.front();
}

orv::MArray<double, 1> Lightcurve::atCountedPoints(const orv::MArray<double, 1> &a) const
{
    return atPoints(a, countedPoints());
}

Lightcurve Lightcurve::pointsOnly(const std::vector<int> &points) const
{
    Lightcurve only(atPoints(jd, points), atPoints(flux, points), atPoints(error, points));
    only.transits_removed = transits_removed;
    if (transits_removed)
        only.removed_flux.makeReference(atPoints(removed_flux, points));
    return only;
}

double Lightcurve::meanCountedError(const std::vector<int> &points) const
{
    double sum = 0;
    for (int i : points)
        sum += error(i);
    return points.empty() ? std::numeric_limits<double>::quiet_NaN()
                          : sum / static_cast<double>(points.size());
}

int Lightcurve::getLength() const
{
    return length;
}
double Lightcurve::getPeriod() const
{
    return period;
}
double Lightcurve::getTau() const
{
    return tau;
}
double Lightcurve::getT0() const
{
    return t0;
}
double Lightcurve::getSNR() const
{
    return snr;
}
double Lightcurve::getDrop() const
{
    return drop;
}
bool Lightcurve::isFolded() const
{
    return folded;
}
bool Lightcurve::isWeighted() const
{
    return weighted;
}
bool Lightcurve::isBoxfitted() const
{
    return boxfitted;
}

double Lightcurve::getSDE(int i) const
{
    return elementOr(sde, i, -1.0);
}
double Lightcurve::getPeriod_box(int i) const
{
    return elementOr(period_box, i, -1.0);
}

double Lightcurve::getDrop_box(int i) const
{
    if (!peakReady(boxfitted, i, std::min(out_level_box.length(1), in_level_box.length(1))))
        return -1.0;
    const double out = out_level_box(i);
    // A slot without a peak has both levels 0.
    if (out == 0 && in_level_box(i) == 0)
        return 0;
    return (out - in_level_box(i)) / out;
}

double Lightcurve::getT0_box(int i) const
{
    return boxResult(boxfitted, t0_box, i);
}

double Lightcurve::getTau_box(int i) const
{
    return boxResult(boxfitted, tau_box, i);
}

int Lightcurve::getPoints_per_transit(int i) const
{
    return elementOr(points_per_transit, i, -1);
}
int Lightcurve::getNumber_transit_points() const
{
    return number_transit_points;
}

int Lightcurve::getNumber_transit_box() const
{
    if (number_transit_points == -1) {
        std::cout << "number of points in-transit not available!" << std::endl;
        return -1;
    }
    return number_transit_points;
}

int Lightcurve::getNumber_transits() const
{
    if (number_transits == -1) {
        std::cout << "number of transits not available!" << std::endl;
        return 0;
    }
    return number_transits;
}

int Lightcurve::getNumber_box() const
{
    return getNumber_transits();
}

orv::MArray<double, 1> Lightcurve::getJD() const
{
    return jd;
}
orv::MArray<double, 1> Lightcurve::getFlux() const
{
    return flux;
}
orv::MArray<double, 1> Lightcurve::getError() const
{
    return error;
}
orv::MArray<double, 1> Lightcurve::getNchi() const
{
    return nchi;
}
orv::MArray<double, 1> Lightcurve::getBoxval() const
{
    return boxval;
}
orv::MArray<double, 1> Lightcurve::getPhase() const
{
    return phase;
}
orv::MArray<double, 1> Lightcurve::getPhased_Flux() const
{
    return phased_flux;
}
orv::MArray<double, 1> Lightcurve::getPhased_Error() const
{
    return phased_error;
}
orv::MArray<double, 1> Lightcurve::getPhased_Nchi() const
{
    return phased_nchi;
}
orv::MArray<double, 1> Lightcurve::getPhased_Boxval() const
{
    return phased_boxval;
}
orv::MArray<double, 1> Lightcurve::getSDE() const
{
    return sde;
}
orv::MArray<double, 1> Lightcurve::getPeriod_box() const
{
    return period_box;
}
orv::MArray<std::string, 1> Lightcurve::getFilename() const
{
    return filename;
}
orv::MArray<std::string, 1> Lightcurve::getPhased_Filename() const
{
    return phased_filename;
}
orv::MArray<int, 1> Lightcurve::getPoints_per_transit() const
{
    return points_per_transit;
}
