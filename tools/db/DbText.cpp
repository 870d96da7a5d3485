#include "db/DbText.h"

#include <algorithm>
#include <sstream>

#include "phishlist/HostRule.h"
#include "phishlist/TextReader.h"
#include "platform/Utf8.h"
#include "update/Cipher.h"

namespace ostrel::tools::db {
namespace {

bool IsBlank(const std::wstring& line) { return line.find_first_not_of(L' ') == std::wstring::npos; }

// The one line the filter's reader makes of text (LF added), or empty when
// it makes none (a comment, or nothing but controls).
std::wstring ReadAsLine(const std::string& text) {
  std::wistringstream stream(Widen(text + '\n'));
  CTextReader reader(stream);
  std::wstring line;
  return reader.ReadLine(line, false, false) ? line : std::wstring();
}

// A raw line for display: C0 controls and DEL dropped, as the reader does.
std::string Printable(const std::string& raw) {
  std::string out;
  for (char c : raw) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F) out += c;
  }
  return out;
}

std::vector<std::string> SplitAtLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
    lines.push_back(text.substr(start, lf - start));
  lines.push_back(text.substr(start));  // after the last LF: the unended tail, maybe empty
  return lines;
}

}  // namespace

std::wstring Widen(const std::string& bytes) {
  std::wstring chars;
  chars.reserve(bytes.size());
  for (char b : bytes) chars += static_cast<wchar_t>(static_cast<unsigned char>(b));
  return chars;
}

std::string Narrow(const std::wstring& chars) {
  std::string bytes;
  bytes.reserve(chars.size());
  for (wchar_t c : chars) bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
  return bytes;
}

bool LooksLikeText(const std::string& bytes) {
  std::size_t ascii = 0;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F) return false;
    if (b < 0x80) ++ascii;
  }
  // Valid UTF-8 is exactly what survives the round trip unchanged.
  const bool utf8 = platform::ToUtf8(platform::FromUtf8(bytes)) == bytes;
  return utf8 || ascii * 10 >= bytes.size() * 9;
}

Detection Detect(const std::string& bytes) {
  const CDecrypt deciphered(bytes);
  const bool fileIsText = LooksLikeText(bytes);
  if (deciphered.IsValid() && (!fileIsText || LooksLikeText(deciphered.GetResult())))
    return {DbForm::Container, deciphered.GetResult()};
  if (fileIsText) return {DbForm::Plain, bytes};
  return {DbForm::Damaged, std::string()};
}

std::string Encipher(const std::string& plain) {
  if (plain.empty()) return std::string(1, '\0');
  return CEncrypt(plain).GetResult();
}

void LoadInto(CPhishListEntries& list, const std::string& fileBytes, DbForm form) {
  std::wistringstream stream(Widen(form == DbForm::Plain ? Encipher(fileBytes) : fileBytes));
  list.Load(stream);
}

std::size_t CheckReport::AcceptedCount() const {
  std::size_t total = 0;
  for (std::size_t n : accepted) total += n;
  return total;
}

CheckReport Check(const std::string& plain) {
  CheckReport report;
  const std::vector<std::string> raw = SplitAtLf(plain);

  // The lines as Load reads them, each judged by the list's own parser.
  std::wistringstream stream(Widen(plain));
  CTextReader reader(stream);
  std::wstring line;
  while (reader.ReadLine(line, false, false)) {
    if (IsBlank(line)) continue;  // AddLine skips empty lines; spaces alone change nothing either
    std::wstring reason;
    const std::unique_ptr<CPhishListItem> entry = CPhishListEntries::ParseFields(line, &reason);
    if (entry) {
      const ListKind kind = entry->GetKind();
      ++report.accepted[kind >= 0 && kind < 4 ? static_cast<std::size_t>(kind) : 0];
      continue;
    }
    const std::size_t number = reader.GetLineNumber();
    // TAB is dropped, not read as a space: say so where it explains the verdict.
    if (reason == L"too few fields" && raw[number - 1].find('\t') != std::string::npos)
      reason += L" (TAB does not separate fields)";
    report.findings.push_back({Finding::Kind::Rejected, number, reason, Narrow(line)});
  }

  // What the reader drops silently: a "#" after text takes the text with
  // it, and so does a missing last LF.
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::size_t hash = raw[i].find('#');
    if (hash == std::string::npos || IsBlank(ReadAsLine(raw[i].substr(0, hash)))) continue;
    report.findings.push_back({Finding::Kind::Commented, i + 1,
                               L"the \"#\" makes the whole line a comment, text before it included",
                               Printable(raw[i])});
  }
  const std::wstring tail = ReadAsLine(raw.back());
  if (!IsBlank(tail)) {
    report.findings.push_back({Finding::Kind::Unended, raw.size(),
                               L"the last line does not end with LF, so it is ignored",
                               Narrow(tail)});
  }

  std::stable_sort(report.findings.begin(), report.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  return report;
}

RuleShare ShareOfRules(CPhishListEntries& list) {
  RuleShare share;
  const std::size_t count = list.GetCount();
  for (std::size_t i = 0; i < count; ++i) {
    const CPhishListItem* entry = list.GetEntry(i);
    if (!entry) continue;
    if (entry->GetKind() != LIST_KIND_BLACK && entry->GetKind() != LIST_KIND_GREY) continue;
    ++share.considered;
    if (!HostRuleOf(entry->GetPattern())) share.withoutRule.push_back(i);
  }
  return share;
}

Explanation Explain(CPhishListEntries& list, const std::wstring& address) {
  const CUri uri(address);
  Explanation result{uri.GetSchemelessUri(), uri.HasHttpScheme(), -1, LIST_KIND_NONE, {}};
  // The list's own lookup: the same walk Find and LookUp make.
  result.index = list.FindIndex(uri);
  const CPhishListItem* entry = result.index < 0 ? nullptr : list.GetEntry(result.index);
  if (entry) {
    result.kind = entry->GetKind();
    result.pattern = entry->GetPattern();
  }
  return result;
}

const char* KindName(ListKind kind) {
  switch (kind) {
    case LIST_KIND_WHITE:
      return "white";
    case LIST_KIND_GREY:
      return "grey";
    case LIST_KIND_BLACK:
      return "black";
    default:
      return "none";
  }
}

}  // namespace ostrel::tools::db
