// CTextReader: reads the phish database text line by line from a wide
// stream whose characters carry one byte each. It drops control characters
// and whole comment lines ("#" anywhere), and keeps only lines ended by LF.
// The stream is not owned; construction rewinds it. One thread at a time.
#pragma once

#include <istream>
#include <string>

class CTextReader {
 public:
  explicit CTextReader(std::wistream& stream);
  virtual ~CTextReader();

  // The next line, or false at the end of the stream (a last line without
  // LF is dropped). collapseSpaces keeps only the first space of a run;
  // tabsToSpaces reads TAB as a space instead of dropping it.
  bool ReadLine(std::wstring& line, bool collapseSpaces, bool tabsToSpaces);

  // Line ends read so far: after ReadLine returns a line, that line's
  // number counted from 1 (comment lines count too).
  std::size_t GetLineNumber() const;

 private:
  std::wistream& m_stream;
  std::size_t m_lineEnds = 0;
};
