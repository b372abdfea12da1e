#ifndef TORVEX_MODEL_PA_H
#define TORVEX_MODEL_PA_H

// A position angle in degrees brought into (-90, 90]: 90 stays 90 and -90
// becomes 90.
float pa(float instrpa);

#endif
