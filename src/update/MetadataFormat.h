// The remote metadata file's text, as the filter reads it: one field a line,
// NAME=VALUE, where "=" is the only separator (the name is the first run of
// characters other than "=", the value the second; anything after a third
// "=" is lost), names match exactly and case-sensitively, and numbers are
// decimal (leading white space, a sign, then digits up to the first other
// character; no digits read as 0). Lines come from CTextReader with runs of
// spaces collapsed and TAB read as a space. Shared by CRemoteMD and the
// publisher's tool, so both read a file the same way. Pure functions.
#pragma once

#include <istream>
#include <string>

#include "platform/WinTypes.h"

// What a metadata file sets, one member per field of the table below.
struct MetadataValues {
  LONG dbVersion = -1;         // DB_VERSION
  LONG bhoVersion = -1;        // BHO_VERSION
  LONGLONG nextUpdate = -1;    // NEXT_UPD, a time stamp YYYYMMDDhhmmss
  DWORD pollInterval = 0;      // POLL_INTERVAL, an index 0 to 3
  std::wstring dbUpdUri;       // DB_UPD_URI
  std::wstring metadataUri;    // METADATA_URI
  std::wstring bhoUpdUri;      // BHO_UPD_URI
  std::wstring greyUri;        // GREY_URI
  std::wstring blackUri;       // BLACK_URI
};

// The field names, in table order.
constexpr int kMetadataFieldCount = 9;
extern const wchar_t* const kMetadataFieldNames[kMetadataFieldCount];

// Whether the field is read as a number (the first four) or as text.
bool IsNumericMetadataField(int index);

// The index of a field name in the table, -1 for any other name.
int FindMetadataField(const std::wstring& name);

// Splits a line into its name and value; false when it has no second token.
// Emits the field-decoding trace messages.
bool DecodeMetadataField(const std::wstring& line, std::wstring& name, std::wstring& value);

// A decimal number as the filter reads it, held within [low, high].
LONGLONG ReadMetadataNumber(const std::wstring& value, LONGLONG low, LONGLONG high);

// Stores value in the field called name; false for a name not in the table.
bool StoreMetadataField(const std::wstring& name, const std::wstring& value,
                        MetadataValues& values);

// Reads every line of a deciphered metadata text (one character per byte)
// into values; later lines override earlier ones. Any bytes at all are
// read without failing.
void ParseMetadata(std::wistream& text, MetadataValues& values);
