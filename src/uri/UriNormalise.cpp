#include "uri/UriNormalise.h"

#include <algorithm>
#include <utility>

namespace {

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool IsUnreserved(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Whether path[i] starts an escape: "%" and two hex digits.
bool IsEscape(std::wstring_view path, std::size_t i) {
  return path[i] == L'%' && i + 2 < path.size() && HexValue(path[i + 1]) >= 0 &&
         HexValue(path[i + 2]) >= 0;
}

// The unreserved character %XX at path[i] stands for, or -1.
int UnreservedEscape(std::wstring_view path, std::size_t i) {
  if (!IsEscape(path, i)) return -1;
  const int c = HexValue(path[i + 1]) * 16 + HexValue(path[i + 2]);
  return IsUnreserved(c) ? c : -1;
}

// The first c in text at or after from, or text.size(). Paths of short
// segments or dense escapes would make a vectorised search per character
// cost a call each, so the next few characters are looked at first.
std::size_t FindFrom(std::wstring_view text, wchar_t c, std::size_t from) {
  const std::size_t near = std::min(text.size(), from + 16);
  for (; from < near; ++from)
    if (text[from] == c) return from;
  return std::min(text.find(c, from), text.size());
}

bool IsDotSegment(std::wstring_view segment) {
  return (segment.size() == 1 || segment.size() == 2) && segment[0] == L'.' && segment.back() == L'.';
}

// Whether the path (which starts with "/") holds anything to normalise:
// an unreserved escape, or a "." or ".." segment as written (without
// escapes, the segments are already what a server reads). Vectorised
// searches for "%" and "/.", since most paths hold neither.
bool NeedsWork(std::wstring_view path) {
  for (std::size_t i = path.find(L'%'); i != path.npos; i = path.find(L'%', i + 1))
    if (UnreservedEscape(path, i) >= 0) return true;
  for (std::size_t i = path.find(L"/."); i != path.npos; i = path.find(L"/.", i + 1)) {
    std::size_t end = i + 2;
    if (end < path.size() && path[end] == L'.') ++end;
    if (end == path.size() || path[end] == L'/') return true;
  }
  return false;
}

// Appends the path (which starts with "/") to out, escapes decoded and dot
// segments removed. A ".." takes off the segment before it, found from the
// end of out (never past the root, where the path's part of out begins),
// so each character is searched and removed at most once: linear.
void AppendNormalisedPath(std::wstring_view path, std::wstring* out) {
  // A "%" that starts no escape stays as it is, and so does an escape of a
  // hex digit that would make it start one ("%6%61" is not "%6a"), which a
  // server's one decoding does not do and a second normalising would.
  std::wstring decoded;
  decoded.reserve(path.size());
  std::size_t stray = std::wstring::npos;  // in decoded, the last such "%"
  for (std::size_t i = 0; i < path.size(); ++i) {
    const std::size_t percent = FindFrom(path, L'%', i);
    decoded.append(path.substr(i, percent - i));  // the run up to the next "%"
    i = percent;
    if (i == path.size()) break;
    const int c = UnreservedEscape(path, i);
    const bool hexDigit = c >= 0 && HexValue(static_cast<wchar_t>(c)) >= 0;
    if (c >= 0 && !(hexDigit && stray != std::wstring::npos && decoded.size() - stray <= 2)) {
      decoded += static_cast<wchar_t>(c);
      i += 2;
      continue;
    }
    if (path[i] == L'%' && !IsEscape(path, i)) stray = decoded.size();
    decoded += path[i];
  }
  const std::size_t root = out->size();  // where the path begins in out
  std::size_t start = 1;                  // the first segment, after the leading "/"
  for (;;) {
    const std::size_t end = FindFrom(decoded, L'/', start);
    const bool last = end == decoded.size();
    const std::wstring_view segment(decoded.data() + start, end - start);
    if (segment.size() == 2 && IsDotSegment(segment) && out->size() > root)
      out->resize(out->rfind(L'/'));
    if (IsDotSegment(segment)) {
      if (last) *out += L'/';  // "/a/." and "/a/b/.." end in "/"
    } else {
      *out += L'/';
      out->append(segment);
    }
    if (last) break;
    start = end + 1;
  }
  if (out->size() == root) *out += L'/';
}

}  // namespace

bool NormaliseSubject(std::wstring_view subject, std::wstring* normalised) {
  // The path ends at the first "?" or "#", and must start before it.
  const std::size_t pathEnd = std::min(FindFrom(subject, L'?', 0), FindFrom(subject, L'#', 0));
  const std::size_t pathStart = FindFrom(subject.substr(0, pathEnd), L'/', 0);
  if (pathStart == pathEnd) return false;
  const std::wstring_view path = subject.substr(pathStart, pathEnd - pathStart);
  if (!NeedsWork(path)) return false;
  std::wstring out;
  out.reserve(subject.size());
  out.append(subject.substr(0, pathStart));
  AppendNormalisedPath(path, &out);
  out.append(subject.substr(pathEnd));
  if (out == subject) return false;
  *normalised = std::move(out);
  return true;
}

std::wstring NormalisedSubject(std::wstring_view subject) {
  std::wstring normalised;
  return NormaliseSubject(subject, &normalised) ? normalised : std::wstring(subject);
}
