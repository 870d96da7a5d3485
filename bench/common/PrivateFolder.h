// The private folder every benchmark process works in: HOME,
// XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR all point into one new
// temporary folder, set up before any static object runs (the settings'
// defaults read TMPDIR while being built), so a benchmark never reads or
// writes the real user's registry. The folder goes at exit, by the
// process that made it only (forked children leave it alone).
#pragma once

#include <string>

namespace ostrel::bench {

// The folder's path; valid for the whole run.
const std::string& PrivateFolder();

}  // namespace ostrel::bench
