// The files the image-file benchmarks read: a 6000 x 4000 8-bit RGB picture
// (smooth gradients with fine texture, like a photograph) as an
// uncompressed TIFF and as a quality-92 JPEG, made once per run in the
// temporary folder.
#pragma once

#include <string>

#include "imageio/image_io.h"

constexpr int kIoWidth = 6000;
constexpr int kIoHeight = 4000;

const host::Image& IoPicture();
const std::string& IoTiffPath();
const std::string& IoJpegPath();
// Where benchmarks write, removed afterwards by whoever made it.
std::string IoScratchPath(const char* extension);
