#include "db/DbMetadata.h"

#include <map>
#include <sstream>

#include "db/DbText.h"
#include "db/DbTool.h"
#include "phishlist/TextReader.h"
#include "platform/Utf8.h"
#include "support/StringCase.h"
#include "update/Cipher.h"
#include "update/MetadataFormat.h"

namespace ostrel::tools::db {
namespace {

using ostrel::platform::FromUtf8;
using ostrel::platform::ToUtf8;

const char* const kProgram = "ostrel-db: ";

std::string Name(int index) { return ToUtf8(kMetadataFieldNames[index]); }

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool IsLeapYear(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// A time stamp YYYYMMDDhhmmss naming a real moment.
bool IsTimeStamp(const std::string& text) {
  if (text.size() != 14 || !AllDigits(text)) return false;
  auto part = [&text](std::size_t at, std::size_t n) { return std::stoll(text.substr(at, n)); };
  const long long year = part(0, 4), month = part(4, 2), day = part(6, 2);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1970 || month < 1 || month > 12 || day < 1) return false;
  const int days = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
  return day <= days && part(8, 2) < 24 && part(10, 2) < 60 && part(12, 2) < 60;
}

// Why the filter would misread a value of this field; empty when it reads
// it as written.
std::string ValueProblem(int field, const std::string& value) {
  if (value.empty()) return "an empty value sets nothing";
  for (unsigned char c : value) {
    if (c == '=') return "a \"=\" ends the value there: the filter would read only what comes before";
    if (c == '#') return "a \"#\" makes the filter ignore the whole line";
    if (c <= ' ' || c >= 0x7F)
      return "only printable ASCII without spaces is read unchanged (percent-encode the rest)";
  }
  // The filter's own refusals, in its words.
  if (const wchar_t* problem = MetadataValueProblem(field, FromUtf8(value)))
    return "the value is " + ToUtf8(problem) + ", so a filter ignores it";
  switch (field) {
    case 0:
    case 1:
      if (!AllDigits(value) || value.size() > 10 || std::stoll(value) > 2147483647)
        return "a version is a whole number from 0 to 2147483647";
      return {};
    case 2:
      if (!IsTimeStamp(value)) return "NEXT_UPD is a UTC time written YYYYMMDDhhmmss";
      if (std::stoll(value) > LatestNextUpdate())
        return "more than 28 days ahead: a filter would check again at " +
               std::to_string(LatestNextUpdate()) + " (28 days from now) all the same";
      return {};
    case 3:
      return value.size() == 1 && value[0] >= '0' && value[0] <= '3'
                 ? std::string()
                 : "POLL_INTERVAL is 0 (hourly), 1 (daily), 2 (weekly) or 3 (every 28 days)";
    default: {
      // What a filter takes, written as every reader of it expects.
      const std::string lower = ToUtf8(ToLowerAscii(FromUtf8(value)));
      if (lower.rfind("http://", 0) != 0 && lower.rfind("https://", 0) != 0)
        return "an address must start with http:// or https://";
      return {};
    }
  }
}

std::string KnownNames() {
  std::string names;
  for (int i = 0; i < kMetadataFieldCount; ++i) names += (i ? ", " : "") + Name(i);
  return names;
}

int Usage(std::ostream& err, const std::string& message) {
  err << kProgram << message << "\n"
      << "usage: ostrel-db metadata FIELD=VALUE... OUT\n"
      << "       ostrel-db metadata --show FILE\n"
      << "(ostrel-db --help tells more)\n";
  return kExitUsage;
}

// What the filter makes of each line of a deciphered metadata text.
void ShowText(const std::string& plain, std::ostream& out) {
  std::vector<std::string> raw;
  std::size_t start = 0;
  for (std::size_t lf; (lf = plain.find('\n', start)) != std::string::npos; start = lf + 1)
    raw.push_back(plain.substr(start, lf - start));
  const std::string unended = plain.substr(start);

  std::map<int, std::size_t> taken;  // field -> the line that sets it
  std::map<int, std::string> written;  // field -> its value as written there
  std::multimap<std::size_t, std::string> notes;  // by line number
  MetadataValues values;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::size_t number = i + 1;
    if (raw[i].find('#') != std::string::npos) {
      notes.emplace(number, "ignored: the \"#\" makes the whole line a comment");
      continue;
    }
    std::wistringstream stream(Widen(raw[i] + "\n"));
    CTextReader reader(stream);
    std::wstring line, name, value;
    reader.ReadLine(line, true, true);
    if (line.find_first_not_of(L" =") == std::wstring::npos) continue;  // nothing on it
    if (!DecodeMetadataField(line, name, value)) {
      notes.emplace(number, "ignored: no value (a field is NAME=VALUE)");
      continue;
    }
    const int field = FindMetadataField(name);
    if (field < 0) {
      std::string note = "ignored: unknown field name \"" + Narrow(name) + "\"";
      const int similar = FindMetadataField(ToUpperAscii(name));
      if (similar >= 0) note += " (names are case-sensitive: " + Name(similar) + ")";
      if (name.find(L' ') != std::wstring::npos) note += " (spaces belong to the name)";
      notes.emplace(number, note);
      continue;
    }
    if (const wchar_t* problem = MetadataValueProblem(field, value)) {
      notes.emplace(number, "ignored: the value is " + ToUtf8(problem));
      continue;
    }
    if (taken.count(field)) notes.emplace(taken[field], "overridden by line " + std::to_string(number));
    taken[field] = number;
    written[field] = Narrow(value);
    StoreMetadataField(name, value, values);
  }
  if (unended.find_first_not_of(" \t\r") != std::string::npos)
    notes.emplace(raw.size() + 1, "ignored: the last line does not end with LF");

  const std::string numbers[] = {std::to_string(values.dbVersion),
                                 std::to_string(values.bhoVersion),
                                 std::to_string(values.nextUpdate),
                                 std::to_string(values.pollInterval)};
  const std::wstring* texts[] = {&values.dbUpdUri, &values.metadataUri, &values.bhoUpdUri,
                                 &values.greyUri, &values.blackUri};
  std::string unset;
  for (int i = 0; i < kMetadataFieldCount; ++i) {
    if (!taken.count(i)) {
      unset += (unset.empty() ? "" : ", ") + Name(i);
      continue;
    }
    const std::string shown = IsNumericMetadataField(i) ? numbers[i] : Narrow(*texts[i - 4]);
    out << Name(i) << " = " << shown << "   (line " << taken[i];
    if (shown != written[i]) out << ", read from \"" << written[i] << "\"";
    out << ")\n";
    if (i == 2 && values.nextUpdate > LatestNextUpdate())
      out << "    (more than 28 days ahead: a filter checks again at " << LatestNextUpdate()
          << ", 28 days from now)\n";
  }
  if (!unset.empty()) out << "not set (a filter keeps its own values): " << unset << "\n";
  for (const auto& [line, note] : notes) out << "line " << line << ": " << note << "\n";
}

int ShowFile(const std::wstring& path, std::ostream& out, std::ostream& err) {
  std::string bytes, error;
  if (!ReadBytes(path, &bytes, &error)) {
    err << kProgram << error << "\n";
    return kExitFailure;
  }
  const CDecrypt plain(bytes);
  if (!plain.IsValid()) {
    err << kProgram << "'" << ToUtf8(path)
        << "': the checksum fails, so a filter takes nothing from it and keeps its settings\n";
    return kExitFailure;
  }
  out << "metadata: " << ToUtf8(path) << ": enciphered container, checksum verifies\n";
  ShowText(plain.GetResult(), out);
  return kExitOk;
}

}  // namespace

bool ComposeMetadata(const std::vector<std::string>& assignments, std::string* text,
                     std::string* error) {
  std::map<int, std::string> values;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      *error = "'" + assignment + "' is not FIELD=VALUE";
      return false;
    }
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const int field = FindMetadataField(FromUtf8(name));
    if (field < 0) {
      *error = "unknown field '" + name + "' (the fields, case-sensitive: " + KnownNames() + ")";
      return false;
    }
    if (values.count(field)) {
      *error = name + " is given twice";
      return false;
    }
    const std::string problem = ValueProblem(field, value);
    if (!problem.empty()) {
      *error = name + "=" + value + ": " + problem;
      return false;
    }
    values[field] = value;
  }
  if (values.empty()) {
    *error = "at least one FIELD=VALUE is needed";
    return false;
  }
  text->clear();
  for (const auto& [field, value] : values) *text += Name(field) + "=" + value + "\n";
  return true;
}

int RunMetadata(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "--show") {
    if (args.size() != 2) return Usage(err, "metadata --show takes one FILE");
    return ShowFile(FromUtf8(args[1]), out, err);
  }
  if (args.size() < 2) return Usage(err, "metadata takes FIELD=VALUE... and OUT");
  const std::string& outPath = args.back();
  if (outPath.find('=') != std::string::npos)
    return Usage(err, "the last argument is the file to write, not '" + outPath + "'");
  std::string text, error;
  if (!ComposeMetadata(std::vector<std::string>(args.begin(), args.end() - 1), &text, &error)) {
    err << kProgram << error << "; nothing written\n";
    return kExitFailure;
  }
  if (!WriteBytesAtomically(FromUtf8(outPath), CEncrypt(text).GetResult(), &error)) {
    err << kProgram << error << " (nothing written)\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace ostrel::tools::db
