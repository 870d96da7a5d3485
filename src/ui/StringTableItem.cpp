#include "ui/StringTableItem.h"

#include "support/Exception.h"
#include "ui/Resources.h"

CStringTableItem::~CStringTableItem() = default;

std::wstring CStringTableItem::LoadResourceString(UINT id) {
  wchar_t buffer[2048];
  const int length = LoadStringW(GetResourceInstance(), id, buffer, 2048);
  if (length == 0) throw CException(L"unable to load string resource", 0);
  return std::wstring(buffer, static_cast<std::size_t>(length));
}
