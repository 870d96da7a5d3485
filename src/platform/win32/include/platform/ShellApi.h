// Windows: ShellExecuteW is the system's.
#pragma once

#include "platform/WinTypes.h"
#include <shellapi.h>
