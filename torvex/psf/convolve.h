// FFT convolution: kernel transforms, their caches and the convolution
// itself.
//
// A transform is a 0-based double matrix of cn2 rows by 2*cn1 doubles (cn1
// complex columns, real and imaginary parts interleaved); cn1 and cn2 are
// powers of two and travel in complex_naxes[1] (columns) and [2] (rows).
#ifndef TORVEX_PSF_CONVOLVE_H
#define TORVEX_PSF_CONVOLVE_H

#include "torvex/structs.h"

#include <memory>
#include <vector>

// The transform of a kernel scaled to unit sum, its centre pixel (nx/2 + 1,
// ny/2 + 1) at the origin, already divided by cn1*cn2, for images of size
// model_naxes.  add0pad 0: the complex size is the smallest power of two
// (at least 2) that holds the image; add0pad 1: that holds the image plus a
// kernel's width of zeros, so that the convolution does not wrap.  A kernel
// whose pixels sum to 0 is used as it is.  The caller releases the result
// with free_dmatrix(m, 0, cn2 - 1, 0, 2*cn1 - 1).
double **psfprep(image psf, long model_naxes[3], int add0pad, long complex_naxes[3]);

// Convolves model->z (naxes[1] x naxes[2]) in place, circularly over the
// complex size, with a transform from psfprep (of which it reads the
// columns 0..cn1/2: the transform of a real kernel holds the rest twice).
// The image goes through the real transforms, and the rows of zeros below
// it are neither stored nor transformed along the rows.  An image larger
// than the complex size ends the run through nrerror.  Allocates nothing
// once an image as tall has been convolved at the complex size.
void convolve(image *model, double **fftpsf, long complex_naxes[3]);

// Multiplies n interleaved complex numbers of ar1 in place by those of ar2.
void complmultipl(double *ar1, double *ar2, long n);

// Writes the float matrix array (naxes[1] x naxes[2]) as the FITS file
// outname, with tname as the header template, an empty OBJECT text and no
// appending.  A debugging aid for looking at work images.
void mkimg(float **array, long naxes[3], const char *outname, const char *tname);

// A float matrix of scratch space, rows 1..nr and columns 1..nc, kept
// between calls: it is allocated only when a larger one is asked for.  Its
// contents are undefined after get().
struct scratch_matrix {
    std::vector<float> data;
    std::vector<float *> rows;
    float **get(long nr, long nc);
};

// A double matrix, rows 0..nr-1 and columns 0..nc-1, whose rows start on
// cache lines and lie a little more than nc apart: rows a power of two
// apart would evict each other from the cache while the transforms walk
// down the columns.  make() allocates; the contents are undefined until
// written (the transforms write every number they later read).
struct padded_matrix {
    std::unique_ptr<double[]> store;
    std::vector<double *> rows;
    void make(long nr, long nc);
};

// Transforms kept for reuse.  A kernel prepared again with the same pixels
// for the same complex size gets the transform made the first time, so
// repeated preparations of an unchanged kernel cost a comparison.
// Each call site keeps its own cache: a transform stays valid until the
// next lookup in the same cache.
struct prepcache {
    struct entry {
        long knx = 0, kny = 0;     // kernel size
        std::vector<float> pixels; // kernel pixels, row by row
        long cn[3] = {0, 0, 0};
        padded_matrix t;        // the transform
        unsigned long used = 0; // last lookup, for replacement
    };
    std::vector<entry> entries;
    unsigned long clock = 0;
    int per_size = 8; // transforms kept per complex size
    prepcache() = default;
    prepcache(const prepcache &) = delete;
    prepcache &operator=(const prepcache &) = delete;
    ~prepcache();
};

// psfprep through a cache; the transform belongs to the cache.
double **psfprep_cached(prepcache *c, const image &kernel, const long model_naxes[3], int add0pad,
                        long complex_naxes[3]);

// Releases every transform of a cache.
void prepcache_clear(prepcache *c);

// Drops every transform that the convolution code keeps (the diffusion
// kernel's, the PSF's and the sinc kernel's); called when the PSF or the
// kernel changes.
void conv_cache_clear();

// The transform caches of the charge-diffusion kernel, of the PSF shift and
// of the components' boxes.
prepcache *kernel_cache();
prepcache *sinc_cache();
prepcache *box_cache();

#endif
