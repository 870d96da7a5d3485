// Windows: the dialog manager is the system's.
#pragma once

#include "platform/WinTypes.h"
