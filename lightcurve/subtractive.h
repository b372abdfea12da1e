// Knuth's subtractive generator: the seeding and drawing steps that every
// uniform generator of the toolboxes shares, on a state its caller owns.
#ifndef LIGHTCURVE_SUBTRACTIVE_H
#define LIGHTCURVE_SUBTRACTIVE_H

// Fills the lagged table ma[1..55] from the seed (its sign does not matter)
// and sets the two positions to 0 and 31.
void subtractive_seed(long ma[56], int &inext, int &inextp, long seed);

// Advances the generator; returns the new integer in 0..999999999.
long subtractive_next(long ma[56], int &inext, int &inextp);

// A generator that seeds itself on its first draw and on every negative
// seed, and then sets the seed to 1; later non-negative seeds are ignored.
struct SubtractiveSequence {
    // A multiple of 1e-9 in [0, 1).
    double draw(long &seed);

    bool seeded = false;
    long ma[56] = {};
    int inext = 0;
    int inextp = 0;
};

#endif
