// Some hosts hand a filter the transparency of a layer as one more plane
// after the colour planes (a filter must leave it alone). To play such a
// host, the command puts the file's alpha channel into the document as that
// plane, and takes it back out afterwards, in the file's own encoding.
#pragma once

#include "imageio/image_io.h"

namespace cli {

// The document with the alpha channel as its last plane (the image mode
// stays that of the colour planes). Without alpha, the document itself,
// moved out of `image`.
host::Document WithTransparencyPlane(host::Image& image);

// Splits `document` (as made above, then filtered) back into `image`:
// colour planes into image.document, the last plane into image.alpha. A
// document without that plane is moved back in whole.
void TakeTransparencyPlane(host::Document&& document, host::Image& image);

}  // namespace cli
