// CTextReader: reads the phish database text line by line, from a wide
// stream whose characters carry one byte each or from bytes in memory. It
// drops control characters and whole comment lines ("#" anywhere), and
// keeps only lines ended by LF. Neither the stream nor the bytes are owned;
// construction rewinds the stream. One thread at a time.
#pragma once

#include <istream>
#include <string>

class CTextReader {
 public:
  explicit CTextReader(std::wistream& stream);
  // The bytes [first, first + size) must outlive the reader.
  CTextReader(const char* first, std::size_t size);
  virtual ~CTextReader();

  // The next line, or false at the end of the text (a last line without
  // LF is dropped). collapseSpaces keeps only the first space of a run;
  // tabsToSpaces reads TAB as a space instead of dropping it.
  bool ReadLine(std::wstring& line, bool collapseSpaces, bool tabsToSpaces);

  // Line ends read so far: after ReadLine returns a line, that line's
  // number counted from 1 (comment lines count too).
  std::size_t GetLineNumber() const;

 private:
  template <class Next>
  bool ReadLineFrom(Next next, std::wstring& line, bool collapseSpaces, bool tabsToSpaces);

  std::wistream* m_stream = nullptr;
  const char* m_next = nullptr;  // the bytes not read yet, when there is no stream
  const char* m_end = nullptr;
  std::size_t m_lineEnds = 0;
};
