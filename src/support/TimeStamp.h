// Time stamps as the system stores them: a UTC date and time as the decimal
// number YYYYMMDDhhmmss in 64 bits (-1 meaning none), and a UTC date as
// YYYYMMDD. Pure functions of the clock; thread-safe.
#pragma once

#include "platform/WinTypes.h"

// The stamp of a moment given in whole seconds since 1970-01-01 00:00 UTC.
LONGLONG TimeStampFromUnixSeconds(LONGLONG seconds);

// The stamp of the current UTC time.
LONGLONG CurrentTimeStamp();
