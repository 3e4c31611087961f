// The whole public interface of the matching library.
#pragma once

#include "lumetra/color.h"
#include "lumetra/matching.h"
#include "lumetra/resample.h"
#include "lumetra/rgb_image.h"
#include "lumetra/rounding.h"
