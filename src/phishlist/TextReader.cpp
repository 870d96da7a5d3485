#include "phishlist/TextReader.h"

#include <algorithm>
#include <cstring>

namespace {
bool IsControl(unsigned b) { return b < 0x20 || (b >= 0x7F && b <= 0x9F); }
constexpr int kEnd = -1;
}  // namespace

CTextReader::CTextReader(std::wistream& stream) : m_stream(&stream) {
  m_stream->clear();
  m_stream->seekg(0);
}

CTextReader::CTextReader(const char* first, std::size_t size) : m_next(first), m_end(first + size) {}

CTextReader::~CTextReader() = default;

std::size_t CTextReader::GetLineNumber() const { return m_lineEnds; }

bool CTextReader::ReadLine(std::wstring& line, bool collapseSpaces, bool tabsToSpaces) {
  if (!m_stream && !collapseSpaces) {
    // The usual line, whole and plain, is widened in one go.
    const void* found = std::memchr(m_next, '\n', static_cast<std::size_t>(m_end - m_next));
    const char* end = static_cast<const char*>(found);
    if (end && std::all_of(m_next, end, [](char b) {
          return !IsControl(static_cast<unsigned char>(b)) && b != '#';
        })) {
      line.assign(reinterpret_cast<const unsigned char*>(m_next), reinterpret_cast<const unsigned char*>(end));
      m_next = end + 1;
      ++m_lineEnds;
      return true;
    }
  }
  if (!m_stream) {
    return ReadLineFrom(
        [this] { return m_next == m_end ? kEnd : static_cast<unsigned char>(*m_next++); }, line,
        collapseSpaces, tabsToSpaces);
  }
  // Straight from the buffer: a sentry per character costs more than the
  // rest of the loop.
  std::wstreambuf* buffer = m_stream->rdbuf();
  const bool more = ReadLineFrom(
      [buffer] {
        const std::wstreambuf::int_type next = buffer ? buffer->sbumpc() : WEOF;
        if (next == std::wstreambuf::traits_type::eof()) return kEnd;
        return static_cast<int>(std::wstreambuf::traits_type::to_char_type(next) & 0xFF);
      },
      line, collapseSpaces, tabsToSpaces);
  if (!more) m_stream->setstate(std::ios::eofbit | std::ios::failbit);
  return more;
}

template <class Next>
bool CTextReader::ReadLineFrom(Next next, std::wstring& line, bool collapseSpaces,
                               bool tabsToSpaces) {
  line.clear();
  bool comment = false;
  unsigned spaceRun = 0;
  for (int c = next(); c != kEnd; c = next()) {
    unsigned b = static_cast<unsigned>(c);
    if (tabsToSpaces && b == 0x09) b = 0x20;
    spaceRun = (b == 0x20) ? spaceRun + 1 : 0;
    if (b == 0x0A) {
      ++m_lineEnds;
      if (!comment) return true;
      line.clear();  // a comment line: go on with the next one
      comment = false;
      continue;
    }
    if (b == '#') {
      comment = true;
      continue;
    }
    if (comment || IsControl(b)) continue;
    if (collapseSpaces && b == 0x20 && spaceRun > 1) continue;
    line += static_cast<wchar_t>(b);
  }
  return false;
}
