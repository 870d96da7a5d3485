// Windows: kernel-object handles are the system's.
#pragma once

#include "platform/WinTypes.h"
