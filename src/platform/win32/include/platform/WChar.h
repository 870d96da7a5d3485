// Windows: the wide formatting functions are the C runtime's, and their
// formats already have the meaning the system writes them in.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cwchar>
