// Random generators with a state of their own: objects of C_ran3, C_rangau
// and C_ranivl each carry a private copy of Knuth's subtractive generator,
// and ran5 keeps one of its own, so none of them moves the shared sequence of
// the light-curve toolbox's ran3; ranpm draws from that shared sequence.
#ifndef PSFTOOLS_RANDOM_H
#define PSFTOOLS_RANDOM_H

// The state of one subtractive generator, fully seeded by its constructor.
// The seed's sign does not matter. Draws are made by the classes below.
struct C_ran3 {
    explicit C_ran3(long seed);

    int inext;   // table position of the next draw
    int inextp;  // the second table position, 31 further on
    long ma[56]; // the lagged table; entries 1..55, each in 0..999999999
};

// Standard normal deviates by the polar method from two member generators
// seeded with s and s - 3.
class C_rangau {
public:
    explicit C_rangau(long seed);
    double eval();

private:
    C_ran3 first_;
    C_ran3 second_;
};

// Uniform deviates in [lower, upper).
class C_ranivl {
public:
    C_ranivl(double lower, double upper, long seed);
    double eval();

private:
    double lower_;
    double width_;
    C_ran3 gen_;
};

// Uniform deviate in [0, 1), a multiple of 1e-9, from a state of its own that
// is seeded by the first call and by any negative seed; seed is then set to 1.
// Not reentrant.
double ran5(long &seed);

// Uniform deviate in (-1, 1) from two draws of the process-wide ran3
// sequence: the first gives the magnitude, the second the sign.
double ranpm(long &seed);

// Exponential deviate of mean 1, drawn through ran5 (never infinite).
double ranexp(long &seed);

#endif
