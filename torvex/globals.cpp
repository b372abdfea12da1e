#include "torvex/structs.h"

// The terminal print and the plain display until the display is chosen, so
// that what goes wrong before still reaches the terminal.
int (*pfunc)(const char *, ...) = printf;
char device[DEVICE_SIZE] = "regular";
inpars input;
sampars sample;
int totnobj = 0;
image psf;
image *kernel = nullptr;
float fwhmpsf = 0;
float sigval = 0;
image *mask = nullptr;
image model;
derivs df;
image tpsf;
bicubic_grid **cg = nullptr;
float xskycent = 0, yskycent = 0;
