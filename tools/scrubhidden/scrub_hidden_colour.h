#pragma once

#include "image.h"

// Sets the colour of every fully transparent pixel to black, so that no
// colour survives where nothing is visible; alpha and visible pixels are left
// alone. Returns whether any pixel changed, which is what decides whether the
// file needs writing at all.
bool scrubHiddenColour(Image& image);
