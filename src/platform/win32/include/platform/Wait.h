// Windows: waits are the system's.
#pragma once

#include "platform/WinTypes.h"
