// lumetra-core: the matching library. RGB images, resampling, colour regions and
// rectangles, and template matching by colour normalised cross-correlation, with kernels
// chosen at run time per CPU. Portable C++ only: no Win32, no JSON, no host code; the
// host's cv/ folder is its one user.
//
// This header: the whole public interface of the matcher. Beside it, lumetra/cpu.h (its
// own target, lumetra_cpu) says which vector instructions may be used; every vector
// kernel of the host asks it too, and tests cap it in one place.
#pragma once

#include "lumetra/color.h"
#include "lumetra/matching.h"
#include "lumetra/resample.h"
#include "lumetra/rgb_image.h"
#include "lumetra/rounding.h"
