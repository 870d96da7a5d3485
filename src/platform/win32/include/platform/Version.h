// Windows: GetVersionExW is the system's.
#pragma once

#include "platform/WinTypes.h"
