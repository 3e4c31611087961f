// Compiles stb_image into the including file, PNG only and with internal linkage, so each
// part of a program that decodes with it (the host's picture decoder, the tests' reference
// decode) has its own copy and no other file parser is reachable from request data. The
// pragmas silence what its code raises under our warning flags. Include it once per file,
// in a .cpp only.
#pragma once

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop
