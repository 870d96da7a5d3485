// The host's protocol channel over its standard input and output. Opening
// it keeps a private duplicate of standard output for the protocol and
// points descriptor 1 at standard error, so a stray printf anywhere in the
// process (the module, a library) lands in the log, never in the channel.
// Writes ignore SIGPIPE: a closed pipe is a failed write, not a kill.
// Open once, on the main thread, before any other thread starts.
#pragma once

#include <functional>

#include "webext/MessageReader.h"
#include "webext/MessageWriter.h"

namespace ostrel::webext {

struct StdioChannel {
  CMessageReader::Source in;
  // Waits up to ms milliseconds (0: only looks) for input to read: > 0 when
  // there is some (or the input ended), 0 when the time ran out, < 0 on error.
  std::function<int(int ms)> wait;
  CMessageWriter::Sink out;
  bool ok = false;  // false: the descriptors could not be set up
};

StdioChannel OpenStdioChannel();

// Whether standard input is a terminal (the host started by hand).
bool InputIsTerminal();

// The process id, as the hello message reports it.
long ProcessId();

}  // namespace ostrel::webext
