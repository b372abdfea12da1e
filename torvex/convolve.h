// FFT convolution of components: kernel transforms, the convolution itself,
// the convolution box of a component and the binning of a convolved box
// back into the fit region.
//
// A transform is a 0-based double matrix of cn2 rows by 2*cn1 doubles (cn1
// complex columns, real and imaginary parts interleaved); cn1 and cn2 are
// powers of two and travel in complex_naxes[1] (columns) and [2] (rows).
#ifndef TORVEX_CONVOLVE_H
#define TORVEX_CONVOLVE_H

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

// Sets the convolution box of one component centred at (a[1], a[2]) in the
// fit region d: the section "[xmin:xmax,ymin:ymax]" in df->imgsect and the
// size of its oversampled work grid (the box at sampfac times the
// resolution with half a padded PSF of margin on every side) in df->naxes.
// A box wholly outside the region, or of no width, is "[0:0,0:0]" of size
// 0 x 0.  The box size is input.convbox.
void convregion(derivs *df, float a[], image *d, convpars *cpar);

// The margin of zeros on either side of a box's work grid along an axis
// whose padded PSF size is psfsz: half of it, rounded.  The box is placed,
// rendered and binned back with this one margin.
long box_margin(long psfsz);

// Bins the convolved work grid of one box (convolved_img.z, section in
// convolved_img.imgsect) to data pixels, convolves it with the
// charge-diffusion kernel when one is loaded, and writes it over the box's
// part of the fit-region image model.
void copy_convregion(convpars *cpar, float **model, image convolved_img, int os);

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
        long knx = 0, kny = 0;      // kernel size
        std::vector<float> pixels;  // kernel pixels, row by row
        long cn[3] = {0, 0, 0};
        padded_matrix t;            // the transform
        unsigned long used = 0;     // last lookup, for replacement
    };
    std::vector<entry> entries;
    unsigned long clock = 0;
    int per_size = 8;               // transforms kept per complex size
    prepcache() = default;
    prepcache(const prepcache &) = delete;
    prepcache &operator=(const prepcache &) = delete;
    ~prepcache();
};

// psfprep through a cache; the transform belongs to the cache.
double **psfprep_cached(prepcache *c, const image &kernel, const long model_naxes[3],
                        int add0pad, long complex_naxes[3]);

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

// Convolves the box images of one component with the PSF moved to the
// component's sub-pixel position and writes them, binned to data pixels,
// over its fit-region images: dpm[0] always, dpm[i] where ia[i] is 1.  a
// holds the component's parameters in fit-region pixels; boximg is the box
// image record (plate scale and zeropoints of the model), given the box's
// size, section and pixel matrices in turn.
void convolve_component(const float a[], const int ia[], derivs *fitnode, derivs *boxnode,
                        image *boximg, convpars *cpar);

#endif
