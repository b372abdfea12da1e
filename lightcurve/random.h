// Random deviates for simulations: uniform, standard normal and sine-
// distributed. All three draw from one generator whose state is shared by the
// whole process, so every caller advances the same reproducible sequence.
// Not safe to call from two threads at once.
#ifndef LIGHTCURVE_RANDOM_H
#define LIGHTCURVE_RANDOM_H

// Uniform deviate in [0, 1), a multiple of 1e-9 (Knuth's subtractive
// generator). A negative seed (re)starts the sequence and is set to 1; a seed
// and its negative give the same sequence. The first call of the process
// seeds with whatever the seed holds; later non-negative seeds are ignored.
double ran3(long &idum);

// Standard normal deviate (mean 0, variance 1) by the polar method; each call
// draws a fresh pair of uniform deviates (two or more draws).
double rangau(long &idum);

// Angle in [0, pi/2) radians with probability density proportional to its
// sine; two uniform draws per trial.
double ransin(long &idum);

#endif
