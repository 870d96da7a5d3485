// Bitmap 204, the picture of the configuration dialog: the bytes of
// ui/Shield.bmp, which the build turns into a source file (the Windows
// resource script names the same file). Constant data.
#pragma once

#include <cstddef>

extern const unsigned char kShieldBitmap[];
extern const std::size_t kShieldBitmapSize;
