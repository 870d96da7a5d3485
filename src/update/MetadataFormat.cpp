#include "update/MetadataFormat.h"

#include <chrono>
#include <cstdint>
#include <limits>

#include "phishlist/TextReader.h"
#include "platform/WinInet.h"
#include "support/TimeStamp.h"
#include "support/Trace.h"

const wchar_t* const kMetadataFieldNames[kMetadataFieldCount] = {
    L"DB_VERSION", L"BHO_VERSION", L"NEXT_UPD",  L"POLL_INTERVAL", L"DB_UPD_URI",
    L"METADATA_URI", L"BHO_UPD_URI", L"GREY_URI", L"BLACK_URI"};

bool IsNumericMetadataField(int index) { return index >= 0 && index < 4; }

int FindMetadataField(const std::wstring& name) {
  for (int i = 0; i < kMetadataFieldCount; ++i)
    if (name == kMetadataFieldNames[i]) return i;
  return -1;
}

bool IsHttpAddress(const std::wstring& text) {
  // Controls would be dropped by some readers of the address and kept by others.
  for (wchar_t c : text)
    if (c < L' ' || c == 0x7F) return false;
  // The host is asked for, so that the cracker checks it as a browser would.
  const DWORD size = static_cast<DWORD>(text.size() * 4 + 64);  // IDNA may lengthen it
  std::wstring host(size, L'\0');
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = size;
  if (text.empty() || !InternetCrackUrlW(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts))
    return false;
  return (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS) &&
         parts.dwHostNameLength > 0;
}

const wchar_t* MetadataValueProblem(int index, const std::wstring& value) {
  if (value.size() > kMaxMetadataValueLength) return L"longer than 2,047 characters";
  if (index >= 0 && index < kMetadataFieldCount && !IsNumericMetadataField(index) &&
      !IsHttpAddress(value))
    return L"not an absolute http or https address";
  return nullptr;
}

LONGLONG LatestNextUpdate() {
  return TimeStampFromUnixSeconds(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count() +
      kMaxNextUpdateAheadMs / 1000);
}

LONGLONG ClampNextUpdate(LONGLONG next) {
  const LONGLONG latest = LatestNextUpdate();
  if (next <= latest) return next;
  TraceMessage(L"Next update time %I64d is more than 28 days ahead: %I64d taken\r\n", next, latest);
  return latest;
}

bool DecodeMetadataField(const std::wstring& line, std::wstring& name, std::wstring& value) {
  std::wstring tokens[2];
  int found = 0;
  for (std::size_t pos = 0; found < 2;) {
    const std::size_t start = line.find_first_not_of(L'=', pos);
    if (start == std::wstring::npos) break;
    const std::size_t end = line.find(L'=', start);
    tokens[found++] = line.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (end == std::wstring::npos) break;
    pos = end;
  }
  name = tokens[0];
  value = tokens[1];
  TraceMessage(L"Decoding field: -\r\n");
  TraceMessage(L"strData: %s\r\n", line.c_str());
  TraceMessage(L"strField: %s\r\n", name.c_str());
  TraceMessage(L"strValue: %s\r\n", value.c_str());
  return found == 2;
}

LONGLONG ReadMetadataNumber(const std::wstring& value, LONGLONG low, LONGLONG high) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == L' ' || (value[i] >= L'\t' && value[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) negative = value[i++] == L'-';
  // Accumulated as a magnitude, held at the bounds rather than overflowing.
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(-(low + 1)) + 1
                                       : static_cast<std::uint64_t>(high);
  std::uint64_t magnitude = 0;
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    const unsigned digit = static_cast<unsigned>(value[i] - L'0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  if (!negative) return static_cast<LONGLONG>(magnitude);
  return magnitude == 0 ? 0 : -static_cast<LONGLONG>(magnitude - 1) - 1;
}

bool StoreMetadataField(const std::wstring& name, const std::wstring& value,
                        MetadataValues& values) {
  constexpr LONGLONG kMin32 = std::numeric_limits<LONG>::min();
  constexpr LONGLONG kMax32 = std::numeric_limits<LONG>::max();
  const int index = FindMetadataField(name);
  if (const wchar_t* problem = MetadataValueProblem(index, value)) {
    TraceMessage(L"Field %s ignored, its value is %s\r\n", name.c_str(), problem);
    return false;
  }
  switch (index) {
    case 0:
      values.dbVersion = static_cast<LONG>(ReadMetadataNumber(value, kMin32, kMax32));
      return true;
    case 1:
      values.bhoVersion = static_cast<LONG>(ReadMetadataNumber(value, kMin32, kMax32));
      return true;
    case 2:
      values.nextUpdate = ReadMetadataNumber(value, std::numeric_limits<LONGLONG>::min(),
                                             std::numeric_limits<LONGLONG>::max());
      return true;
    case 3:
      values.pollInterval = static_cast<DWORD>(ReadMetadataNumber(value, kMin32, kMax32));
      return true;
    case 4:
      values.dbUpdUri = value;
      return true;
    case 5:
      values.metadataUri = value;
      return true;
    case 6:
      values.bhoUpdUri = value;
      return true;
    case 7:
      values.greyUri = value;
      return true;
    case 8:
      values.blackUri = value;
      return true;
    default:
      return false;
  }
}

void ParseMetadata(std::wistream& text, MetadataValues& values) {
  CTextReader reader(text);
  std::wstring line, name, value;
  while (reader.ReadLine(line, true, true)) {
    if (DecodeMetadataField(line, name, value)) StoreMetadataField(name, value, values);
  }
}
