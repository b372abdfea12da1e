/* Writes the example images of dornel: field.fits, a 128 x 96 image of a
 * galaxy and a few stars on a curved sky with seeded noise and a blank
 * (0) border strip, and e.field.fits, its error image.
 *
 *   cc make_sky_field.c -o make_sky_field $(pkg-config --cflags --libs cfitsio) -lm
 *   ./make_sky_field
 */
#include <fitsio.h>
#include <math.h>
#include <stdio.h>

enum { NX = 128, NY = 96 };

static unsigned long state = 20240611UL;

/* A uniform deviate in (0, 1) from a fixed linear congruential sequence. */
static double uniform(void)
{
    state = (state * 6364136223846793005UL + 1442695040888963407UL) & 0xffffffffffffUL;
    return ((double)(state >> 16) + 0.5) / 4294967296.0;
}

static double gauss(void)
{
    return sqrt(-2.0 * log(uniform())) * cos(6.283185307179586 * uniform());
}

static int write(const char *name, float *pixels)
{
    fitsfile *f;
    int status = 0;
    long naxes[2] = {NX, NY};
    remove(name);
    fits_create_file(&f, name, &status);
    fits_create_img(f, FLOAT_IMG, 2, naxes, &status);
    fits_write_key(f, TSTRING, "OBJECT", "example field", "made by make_sky_field", &status);
    fits_write_img(f, TFLOAT, 1, (LONGLONG)NX * NY, pixels, &status);
    fits_close_file(f, &status);
    if (status)
        fits_report_error(stderr, status);
    return status;
}

int main(void)
{
    static float image[NY][NX], error[NY][NX];
    const double stars[][3] = {{20, 70, 400}, {100, 20, 250}, {110, 80, 600}, {35, 15, 300}};
    for (int y = 1; y <= NY; ++y) {
        for (int x = 1; x <= NX; ++x) {
            const double u = x / (double)NX, v = y / (double)NY;
            double value = 100 + 8 * u - 5 * v + 6 * u * u - 4 * u * v + 3 * v * v;
            const double r2 = ((x - 64.0) * (x - 64.0) + (y - 48.0) * (y - 48.0) * 2.0) / 64.0;
            value += 300 * exp(-sqrt(r2));
            for (int s = 0; s < 4; ++s) {
                const double d2 =
                    (x - stars[s][0]) * (x - stars[s][0]) + (y - stars[s][1]) * (y - stars[s][1]);
                value += stars[s][2] * exp(-d2 / 2.0);
            }
            value += 2.0 * gauss();
            image[y - 1][x - 1] = x <= 4 ? 0.0f : (float)value;
            error[y - 1][x - 1] = 2.0f;
        }
    }
    return write("field.fits", &image[0][0]) || write("e.field.fits", &error[0][0]);
}
