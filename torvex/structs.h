// Records that carry one torvex run from the parameter file to the outputs,
// and the program-wide variables.  Text fields are fixed buffers holding
// NUL-terminated text; parameter slots, axis lengths and bounds are indexed
// from 1 (element 0 unused).
#ifndef TORVEX_STRUCTS_H
#define TORVEX_STRUCTS_H

#include "numerics/nrutil.h" // the allocators of every image and vector

#include <cmath>
#include <cstdio>
#include <cstring>

// Buffer sizes: file names hold up to FILENAME_LEN characters.
constexpr int FILENAME_LEN = 1024;
constexpr int SECT_SIZE = 70;
constexpr int DEVICE_SIZE = 10;
constexpr int OBJTYPE_LEN = 8;

// Run settings of one parameter file (keys in the comments).
struct inpars {
    char initparfile[FILENAME_LEN + 1] = "";     // command line or prompt
    char data[FILENAME_LEN + 1] = "";            // A
    char output[FILENAME_LEN + 1] = "";          // B
    char sigma[FILENAME_LEN + 1] = "none";       // C
    char psf[FILENAME_LEN + 1] = "";             // D, first word
    char kernel[FILENAME_LEN + 1] = "";          // D, second word
    char constraints[FILENAME_LEN + 1] = "none"; // G
    int sampfac = 1;                             // E
    char badpix[FILENAME_LEN + 1] = "none";      // F
    char imgsect[SECT_SIZE] = "";                // H, "[xmin:xmax,ymin:ymax]"
    float cboxcent[3] = {0, 0, 0};               // never set from the file
    int convbox[3] = {0, 0, 0};                  // I
    float magzpt = 0;                            // J
    float d[3] = {0, 0, 0};                      // K, plate scale dx, dy
    int coerr = 0;                               // L, read and not used
    char device[DEVICE_SIZE] = "both";           // O
    int create = 0;                              // P
    int interact = 0;                            // S
};

// One image in memory; z[y][x] with rows 1..naxes[2], columns 1..naxes[1].
struct image {
    char name[FILENAME_LEN + 1] = "";
    float **z = nullptr;
    long naxes[3] = {0, 0, 0};
    char imgsect[SECT_SIZE] = "";
    float exptime = 0;
    float magzpt = 0;
    float muzpt = 0;
    float dp[3] = {0, 0, 0};
    float gain = 0;
    float rdnoise = 0;
    float ncombine = 0;
    int err = 0;     // 1 when the file could not be opened as FITS
    long nblank = 0; // pixels of an integer image equal to its BLANK (read as NaN)
};

// One model component, a node of a list in parameter-file order.  A new
// node carries the defaults of a fresh component; the list head owned by
// main has the type "none" until the first component takes it.
struct fitpars {
    char objtype[OBJTYPE_LEN + 1] = "none";
    float a[11] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};
    float sig[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int ia[11] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; // 1 free, 0 fixed, -1 unused
    int outtype = 0;                                // 1: not subtracted in the residual
    fitpars *next = nullptr;
};

// One parameter constraint.
struct cons {
    int comp[3] = {0, 0, 0}; // comp[1] == 0 ends the list
    char op = 0;             // 0 relative, 't' absolute, '-' difference, '/' ratio
    int par = 0;             // slot 1..10, -1 for an unknown name
    float cval[3] = {0, 0, 0};
    cons *next = nullptr;
};

// Convolution settings.
struct convpars {
    float cent[3] = {0, 0, 0};
    int boxsz[3] = {0, 0, 0};
    char imgsect[SECT_SIZE] = "";
    int sampfac = 1;
    long psfsz[3] = {0, 0, 0}; // padded PSF size, set when a PSF was read
};

// Work images of one component: dpm[0] its image, dpm[i] d/da[i].
struct derivs {
    char imgsect[SECT_SIZE] = "";
    long naxes[3] = {0, 0, 0};
    float **dpm[11] = {};
    derivs *next = nullptr;
};

struct sampars {
    int nobjs = 0;  // components in the list
    long nmask = 0; // pixels left out of the last chi^2
};

// Bicubic coefficients c[1..4][1..4] of one PSF cell.
struct bicubic_grid {
    float **c = nullptr;
};

// Component type words are recognised by their first characters, so that
// "sersic2" counts as "sersic": true when objtype begins with type.
inline bool objtype_is(const char *objtype, const char *type)
{
    while (*type)
        if (*objtype++ != *type++)
            return false;
    return true;
}

// The bounds of an image section "[x1:x2,y1:y2]": first and last column,
// first and last row.
struct section_bounds {
    int x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

// Reads the numbers of a section text into s in the order x1, x2, y1, y2 as
// far as the text holds them (the others keep their values) and returns how
// many it read: 4 for a whole section, -1 for an empty text.
inline int read_section(const char *text, section_bounds *s)
{
    return sscanf(text, "[%d:%d,%d:%d]", &s->x1, &s->x2, &s->y1, &s->y2);
}

// Writes s as the section text of a field of SECT_SIZE bytes.
inline void write_section(char *text, const section_bounds &s)
{
    snprintf(text, SECT_SIZE, "[%d:%d,%d:%d]", s.x1, s.x2, s.y1, s.y2);
}

// Releases node and every node after it along next (nodes made with new).
template <class Node>
void delete_list(Node *node)
{
    while (node) {
        Node *next = node->next;
        delete node;
        node = next;
    }
}

// Rounds halves away from zero: the rounding of every position, box edge
// and size of the program.
inline double round_half_away(double v)
{
    return std::trunc(v > 0 ? v + 0.5 : v - 0.5);
}

// Program-wide variables (defined in globals.cpp).
extern int (*pfunc)(const char *, ...); // the print function of the display in use
extern char device[DEVICE_SIZE];        // the display word in force
extern inpars input;
extern sampars sample;
extern int totnobj;   // component counter of the parameter-file reader
extern image psf;     // name "none" when no PSF was read
extern image *kernel; // charge-diffusion kernel, or null
extern float fwhmpsf;
extern float sigval;                      // value that replaced zero sigma pixels, else 0
extern float TWOn[101], MU[101], Y2[101]; // Sersic kappa(n) table, 1..100
extern int ninterp;
extern image *mask; // bad-pixel mask cut to the fit region
extern image model; // summed model over the fit region
extern derivs df;   // head of the work-image list
extern image tpsf;  // sub-pixel-shifted PSF
extern bicubic_grid **cg;
extern float xskycent, yskycent; // reference point of the sky gradient

// True when the display word in force (device) begins with word.
inline bool display_is(const char *word)
{
    return strncmp(device, word, strlen(word)) == 0;
}

#endif
