// Test seam of the trace sink: while an object of this class lives, every
// TraceMessage of any thread is formatted and kept here, in order. One
// capture at a time; a second replaces the first until it ends.
#pragma once

#include <mutex>
#include <string>
#include <vector>

class CTraceCapture {
 public:
  CTraceCapture();
  CTraceCapture(const CTraceCapture&) = delete;
  CTraceCapture& operator=(const CTraceCapture&) = delete;
  virtual ~CTraceCapture();

  std::vector<std::wstring> Messages() const;
  // Number of messages equal to text, and whether any contains part.
  std::size_t Count(const std::wstring& text) const;
  bool Contains(const std::wstring& part) const;
  void Clear();

  // Called by the sink.
  void Append(std::wstring message);

 private:
  mutable std::mutex m_mutex;
  std::vector<std::wstring> m_messages;
  CTraceCapture* m_previous;
};
