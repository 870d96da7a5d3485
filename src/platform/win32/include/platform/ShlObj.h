// Windows: the folder chooser is the system's.
#pragma once

#include "platform/WinTypes.h"
#include <shlobj.h>
