// Guards of the light-curve operations: each tells whether its condition
// holds and prints the operation's one-line message on standard output when
// it does not.
#ifndef LIGHTCURVE_GUARDS_H
#define LIGHTCURVE_GUARDS_H

// Whether the light curve holds data ("lightcurve contains no data points!").
bool dataReady(bool hasData);
// The same, and at least one point: a light curve whose points were all
// removed has nothing to fold, search or clip.
bool pointsReady(bool hasData, int length);
// Whether 1 <= i <= n ("error: number(i) out of range (1,n)!").
bool indexInRange(int i, int n);
// Whether a box search has run ("no boxed-lightcurve available!").
bool boxResultsReady(bool boxfitted);
// Whether a box search has run and c numbers one of its n peaks (with the
// message of the first condition that fails).
bool peakReady(bool boxfitted, int c, int n);
// Whether the flux without transits is there ("error: transit is not
// removed!").
bool removedFluxReady(bool transitsRemoved);
// Whether a number of phase bins is positive ("error: number of phase bins
// must be positive!").
bool binCountReady(int n);
// Whether a fold's period is positive and finite ("error: period must be
// positive and finite!") and its epoch finite ("error: epoch must be
// finite!"): any other fold has no phases.
bool foldable(double period, double epoch);
// Whether some point counts ("error: no point with finite time and flux and
// a usable error!"): the statistics of the points, and the default epoch of
// a fold, come from those alone.
bool finitePointsReady(bool any);

// Guards of the file writers, with their messages.
// Data to write ("lightcurve contains no data points").
bool writableData(bool hasData);
// A fold ("lightcurve has not been folded, yet!").
bool foldReady(bool folded);
// The spectrum of a box search ("no SR-spectrum available!").
bool spectrumReady(bool boxfitted);
// The noise-free flux ("error: nonoise lightcurve not available!").
bool nonoiseReady(bool nonoise);
// The flux without transits ("error: transits have not yet been removed!").
bool removedReady(bool transitsRemoved);

#endif
