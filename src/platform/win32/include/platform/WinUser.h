// Windows: windows, messages and message boxes are the system's.
#pragma once

#include "platform/WinTypes.h"
