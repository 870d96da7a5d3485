// The browser's Tools menu as the registry fills it: every command
// extension under HKLM\SOFTWARE\Microsoft\Internet Explorer\Extensions
// (the browser's command-extension class, a command class and a menu text),
// and running one as the browser does: its class created through the
// registry on the window's thread, IOleCommandTarget::Exec called, the
// object released. Thread-safe; Run belongs on the window's thread.
#pragma once

#include <string>
#include <vector>

#include "platform/ObjBase.h"

namespace ostrel::host {

struct ToolsEntry {
  std::wstring menuText;
  CLSID command;
};

// In the registry's order; keys that are not command extensions, or whose
// command class is no GUID, are skipped.
std::vector<ToolsEntry> RegisteredToolsEntries();

// Exec's result, or the reason the command could not be created (in *error).
HRESULT RunToolsEntry(const ToolsEntry& entry, std::wstring* error);

}  // namespace ostrel::host
