// Letter-case changes as the system uses them on URIs, hosts and keys: only
// the ASCII letters A to Z and a to z change; every other code unit stays.
#pragma once

#include <string>

inline std::wstring ToLowerAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

inline std::wstring ToUpperAscii(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}
