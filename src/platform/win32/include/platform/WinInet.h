// Windows: HTTP is the system's WinINet.
#pragma once

#include "platform/WinTypes.h"
#include <wininet.h>
