// Windows: the command-target interface is the system's.
#pragma once

#include "platform/WinTypes.h"
#include <docobj.h>
