// ostrel-db metadata: the publisher's side of the remote metadata file.
// Writes the enciphered file a filter reads from FIELD=VALUE assignments,
// refusing names the filter does not know and values it would misread, and
// shows what a filter takes from a file (and which lines it ignores) by the
// filter's own reading (update/MetadataFormat.h). Not thread-safe (a
// program's main work).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ostrel::tools::db {

// The metadata text of FIELD=VALUE assignments, one line each in the
// filter's field order; false with the reason for the first one refused.
bool ComposeMetadata(const std::vector<std::string>& assignments, std::string* text,
                     std::string* error);

// "metadata FIELD=VALUE... OUT" and "metadata --show FILE" (the arguments
// after "metadata"); the exit status.
int RunMetadata(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ostrel::tools::db
