// Screenshots against a committed reference: both are reduced to block averages, which absorbs
// the rasteriser's rounding along edges, then compared block by block with a colour tolerance.
#pragma once

#include "tests/support/PngFile.h"

// The average colour of each `block` x `block` square (partial squares at the edges dropped).
TImage BlockAverages(const TImage& image, int block);

// The share of pixels whose largest channel difference exceeds `tolerance`; 1 when the sizes
// differ.
double ShareDiffering(const TImage& a, const TImage& b, int tolerance);
