// Windows: error codes and the thread's last error are the system's.
#pragma once

#include "platform/WinTypes.h"
