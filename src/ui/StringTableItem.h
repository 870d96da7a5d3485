// CStringTableItem: the loader of the module's string resources. Static;
// callable from any thread.
#pragma once

#include <string>

#include "platform/WinTypes.h"

class CStringTableItem {
 public:
  virtual ~CStringTableItem();

  // The string; CException when there is none (or it is empty).
  static std::wstring LoadResourceString(UINT id);
};
