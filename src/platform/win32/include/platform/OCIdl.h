// Windows: object sites and connection points are the system's.
#pragma once

#include "platform/WinTypes.h"
#include <ocidl.h>
