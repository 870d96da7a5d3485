// The auto-update service of the phish lists: every list's update thread
// runs CPhishList::AutoUpdateLoop (defined in AutoUpdate.cpp with the
// thread's routine and the update cycle). The functions here serve the
// cycle and the configuration dialog; each is callable from any thread.
#pragma once

#include <string>

// Whether an executable path is a browser's: it contains "iexplore.exe"
// once lower-cased, or its file name is the browser stand-in's,
// "ostrel-browser". Only a browser process offers program updates.
bool IsBrowserExecutablePath(const std::wstring& path);
bool IsBrowserProcess();  // the path of this process's executable

// Asks for a database update now: forgets the local database version
// ("PDBUN" = -1), so the next cycle downloads, then signals the
// manual-update event, which wakes one waiting update thread. False when
// the event could not be opened or signalled.
bool RequestDatabaseUpdate();

// For tests: forgets this process's last database download, as a new
// process starts, so a test's lists may download again at once.
void ForgetThisProcessDownload();
