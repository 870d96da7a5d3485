// Windows: dialog templates, strings and bitmaps are the module's own
// resources, compiled into it; only the data-form tables the module shares
// with other platforms come from us, and registering them does nothing.
#pragma once

#include "platform/ResourceTables.h"
#include "platform/WinTypes.h"
