// The remote metadata file's text, as the filter reads it: one field a line,
// NAME=VALUE, where "=" is the only separator (the name is the first run of
// characters other than "=", the value the second; anything after a third
// "=" is lost), names match exactly and case-sensitively, and numbers are
// decimal (leading white space, a sign, then digits up to the first other
// character; no digits read as 0). Lines come from CTextReader with runs of
// spaces collapsed and TAB read as a space. The file travels over plain
// HTTP and its cipher authenticates nothing, so values are checked before
// they are taken: an address field takes only an absolute http or https
// address with a host, no value over 2,047 characters is taken, and
// NEXT_UPD is held to at most 28 days ahead. Shared by CRemoteMD and the
// publisher's tool, so both read and check a file the same way. Functions
// of their arguments (and of the clock, where said); thread-safe.
#pragma once

#include <cstddef>
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

// The longest value taken for any field; a longer one is ignored.
constexpr std::size_t kMaxMetadataValueLength = 2047;
// How far ahead NEXT_UPD may put the next check: 28 days, in milliseconds.
constexpr DWORD kMaxNextUpdateAheadMs = 28u * 24 * 60 * 60 * 1000;

// Whether text is an absolute http or https address with a host, as the
// platform's URL cracker reads it.
bool IsHttpAddress(const std::wstring& text);

// Why a value is not taken for the field at index (too long; for an
// address field, not an absolute http or https address); nullptr when it
// is taken.
const wchar_t* MetadataValueProblem(int index, const std::wstring& value);

// The latest next-check time a filter keeps: 28 days from now (the clock).
LONGLONG LatestNextUpdate();
// A next-check time held to LatestNextUpdate(); traced when it is cut.
LONGLONG ClampNextUpdate(LONGLONG next);

// Splits a line into its name and value; false when it has no second token.
// Emits the field-decoding trace messages.
bool DecodeMetadataField(const std::wstring& line, std::wstring& name, std::wstring& value);

// A decimal number as the filter reads it, held within [low, high].
LONGLONG ReadMetadataNumber(const std::wstring& value, LONGLONG low, LONGLONG high);

// Stores value in the field called name; false for a name not in the table
// and for a value MetadataValueProblem refuses (traced; the field keeps its
// value).
bool StoreMetadataField(const std::wstring& name, const std::wstring& value,
                        MetadataValues& values);

// Reads every line of a deciphered metadata text (one character per byte)
// into values; later lines override earlier ones, refused values override
// nothing. Any bytes at all are read without failing. NEXT_UPD is stored as
// written: the caller clamps it (ClampNextUpdate).
void ParseMetadata(std::wistream& text, MetadataValues& values);
