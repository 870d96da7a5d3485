// The trace sink every subsystem reports its steps to, printf-style with
// Windows wide formats ("%s" is a wide string). It discards everything:
// nothing is formatted or stored and it cannot fail. Tests may install a
// CTraceCapture (support/TraceCapture.h) to see the messages. Thread-safe.
#pragma once

void TraceMessage(const wchar_t* format, ...);
