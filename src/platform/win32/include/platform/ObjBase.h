// Windows: GUIDs and COM are the system's.
#pragma once

#include "platform/WinTypes.h"
#include <objbase.h>
