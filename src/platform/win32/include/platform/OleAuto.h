// Windows: BSTR, VARIANT and IDispatch are the system's.
#pragma once

#include "platform/WinTypes.h"
#include <oleauto.h>
