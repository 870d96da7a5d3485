// Windows: the temporary folder, the user's name and module paths are the
// system's.
#pragma once

#include "platform/WinTypes.h"
