// The light a planet hides when it passes in front of a star whose surface
// brightness follows the quadratic limb-darkening law
//   I(mu) = 1 - gamma1 (1 - mu) - gamma2 (1 - mu)^2,  mu = sqrt(1 - r^2).
// p is the planet's radius and z the distance between the centres, both in
// stellar radii. The result is the change of the star's flux in units of
// its unocculted flux: 0 without overlap, -1 when the planet covers the
// whole disc.
#ifndef LIGHTCURVE_OCCULTATION_H
#define LIGHTCURVE_OCCULTATION_H

// The occultation formulas of Mandel and Agol (2002), built on the complete
// elliptic integrals; valid for every p > 0 and z >= 0, and always within
// [-1, 0]. The approximations of K and E leave errors of a few 1e-7 away
// from the contacts (z = 1 + p, |1 - p| and p), growing inversely with the
// distance from them, to at most 3e-4 in the bands of relative width 1e-4
// around them, where the contact's own closed form stands in.
double occultation_exact(double p, double z, double gamma1, double gamma2);

// Small-planet approximation: the intensity averaged over the annulus that
// the planet covers, times the covered area. Meant for p up to about 0.1.
double occultation_small(double p, double z, double gamma1, double gamma2);

#endif
