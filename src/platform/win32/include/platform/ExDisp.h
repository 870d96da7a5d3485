// Windows: the browser's object model is the system's.
#pragma once

#include "platform/WinTypes.h"
#include <exdisp.h>
#include <exdispid.h>
