// Windows: IUnknown and IClassFactory are the system's.
#pragma once

#include "platform/WinTypes.h"
#include <unknwn.h>
