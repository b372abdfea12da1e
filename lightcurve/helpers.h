// Small helpers of the light-curve toolbox: Julian dates, pixel and sky
// coordinates on a linear grid, magnitudes, and waiting.
#ifndef LIGHTCURVE_HELPERS_H
#define LIGHTCURVE_HELPERS_H

// Julian date of a calendar date and time of day (UT). Dates up to
// 4 October 1582 are in the Julian calendar, later ones in the Gregorian.
double julian(int year, int month, int day, int hour, int minute, double second);
// The same with the time of day in hours.
double julian(int year, int month, int day, double hours);

// Right ascension and declination (degrees) of pixel (x, y) on a linear grid
// with reference pixel (x0, y0) at (ra0, dec0) and scales sx, sy in degrees
// per pixel; the right-ascension offset is widened by 1/cos(dec).
void PixelToradec(double &ra, double &dec, double x, double y, double ra0, double dec0, double x0,
                  double y0, double sx, double sy);
// The inverse of PixelToradec: the pixel at (ra, dec) on the same grid.
void radecToPixel(double ra, double dec, double &x, double &y, double ra0, double dec0, double x0,
                  double y0, double sx, double sy);

// Magnitude of a flux, -2.5 log10(flux / 3060).
double flux2mag(double flux);

// Returns once the calendar clock has passed n whole seconds after the
// second of the call (n to n + 1 seconds later), sleeping meanwhile.
void wait_seconds(long n);

#endif
