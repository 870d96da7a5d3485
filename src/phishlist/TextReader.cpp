#include "phishlist/TextReader.h"

namespace {
bool IsControl(unsigned b) { return b < 0x20 || (b >= 0x7F && b <= 0x9F); }
}  // namespace

CTextReader::CTextReader(std::wistream& stream) : m_stream(stream) {
  m_stream.clear();
  m_stream.seekg(0);
}

CTextReader::~CTextReader() = default;

std::size_t CTextReader::GetLineNumber() const { return m_lineEnds; }

bool CTextReader::ReadLine(std::wstring& line, bool collapseSpaces, bool tabsToSpaces) {
  line.clear();
  bool comment = false;
  unsigned spaceRun = 0;
  // Straight from the buffer: a sentry per character costs more than the
  // rest of the loop.
  std::wstreambuf* buffer = m_stream.rdbuf();
  for (;;) {
    const std::wstreambuf::int_type next = buffer ? buffer->sbumpc() : WEOF;
    if (next == std::wstreambuf::traits_type::eof()) break;
    unsigned b = static_cast<unsigned>(std::wstreambuf::traits_type::to_char_type(next)) & 0xFF;
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
  m_stream.setstate(std::ios::eofbit | std::ios::failbit);
  return false;
}
