// Simulated observations of a star with a transiting planet: Gaussian noise
// about flux 1 with the analytic transit added.
#include "lightcurve/Lightcurve.h"
#include "lightcurve/filled.h"
#include "lightcurve/random.h"

void Lightcurve::simulate_analytical(double period_, double t0_, double inclination_,
                                     double m_star_, double r_star_, double r_planet_,
                                     double gamma1_, double gamma2_, orv::MArray<double, 1> t,
                                     orv::MArray<double, 1> errors, bool small_planet, long &seed)
{
    if (!levelsCover(errors, t.length(1)))
        return;
    startSimulation(t, errors);
    setTransitModel(period_, t0_, inclination_, m_star_, r_star_, r_planet_, gamma1_, gamma2_);
    nonoise = true;
    nonoise_flux.makeReference(orv::MArray<double, 1>(length, false));
    for (int k = 1; k <= length; ++k) {
        flux(k) = rangau(seed) * error(k) + 1;
        nonoise_flux(k) = 1;
    }
    addTransit(small_planet, true);
    calc_weights();
    renorm();
    // The fold shows the flux about its weighted mean.
    foldAtTransit();
    setTransitShape();
    upscale();
    countTransits();
    noise = meanCountedError(countedPoints());
}

void Lightcurve::simulate_analytical(double period_, double t0_, double inclination_,
                                     double m_star_, double r_star_, double r_planet_,
                                     double gamma1_, double gamma2_, orv::MArray<double, 1> t,
                                     double error_, bool small_planet, long &seed)
{
    simulate_analytical(period_, t0_, inclination_, m_star_, r_star_, r_planet_, gamma1_, gamma2_,
                        t, filled(t.length(1), error_), small_planet, seed);
}
