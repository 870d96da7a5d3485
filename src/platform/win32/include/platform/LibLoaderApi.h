// Windows: modules are the system's loader's.
#pragma once

#include "platform/WinTypes.h"
