// Windows: the base types come from the system's own headers. Windows'
// min and max macros would break the standard library's, so they are off.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
