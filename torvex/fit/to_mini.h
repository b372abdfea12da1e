// The small image operations of the fit driver: the fit-region cut, the
// coordinate shift, the residual and the blank data image of a create-only
// run.
#ifndef TORVEX_FIT_TO_MINI_H
#define TORVEX_FIT_TO_MINI_H

#include "torvex/structs.h"

// A new, empty image record; a failed allocation ends the run with status 1
// after a message.
image *new_image_record();

// A new record holding the section img->imgsect ("[x1:x2,y1:y2]") of img,
// with every other field copied.  Pixels of the section that lie outside
// img get the value outside: 0 for data, 1 (excluded) for a mask.
// An empty section gives a record of size 0 without pixels.  Release
// with free_mini.
image *to_mini(const image *img, float outside = 0.0f);
void free_mini(image *img);

// Adds the offsets to every component's position (not the sky's) and to
// the convolution-box centre.
void offset_center(fitpars *fpar, convpars *cpar, float xoff, float yoff);

// result = data - model pixel by pixel over the model's size.
void subimg(const image *data, const image *model, image *result);

// The stand-in data image of a run without one: zero pixels over columns
// 1..xmax and rows 1..ymax of input.imgsect, so that the fit region lies
// inside it, with the detector defaults of readfits and exposure time 1.
// Ends the process with status 2 when input.imgsect holds no region.
void blank_img(image *data, const inpars &input);

#endif
