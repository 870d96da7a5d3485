#include "support/Trace.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <mutex>

#include "platform/WChar.h"
#include "support/TraceCapture.h"

namespace {

std::atomic<CTraceCapture*> g_capture{nullptr};
std::mutex g_captureMutex;  // held while a capture is swapped or written

// A captured message keeps at most this many characters: a trace is for
// reading, and a runaway argument must not grow the test sink without bound.
constexpr std::size_t kMaxCapturedLength = std::size_t{1} << 16;

// The formatted message, cut to kMaxCapturedLength; the format itself when
// the message cannot be formed (an argument that is not valid text).
std::wstring FormatAll(const wchar_t* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = _vscwprintf(format, copy);
  va_end(copy);
  if (needed < 0) return format;
  const std::size_t kept = std::min(static_cast<std::size_t>(needed), kMaxCapturedLength);
  std::wstring text(kept + 1, L'\0');
  _vsnwprintf(text.data(), text.size(), format, args);
  text.resize(kept);
  return text;
}

}  // namespace

void TraceMessage(const wchar_t* format, ...) {
  if (!g_capture.load(std::memory_order_acquire) || !format) return;
  std::lock_guard<std::mutex> lock(g_captureMutex);
  CTraceCapture* capture = g_capture.load(std::memory_order_relaxed);
  if (!capture) return;
  va_list args;
  va_start(args, format);
  std::wstring text = FormatAll(format, args);
  va_end(args);
  capture->Append(std::move(text));
}

CTraceCapture::CTraceCapture() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  m_previous = g_capture.exchange(this);
}

CTraceCapture::~CTraceCapture() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  g_capture.store(m_previous);
}

void CTraceCapture::Append(std::wstring message) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messages.push_back(std::move(message));
}

std::vector<std::wstring> CTraceCapture::Messages() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_messages;
}

std::size_t CTraceCapture::Count(const std::wstring& text) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::size_t n = 0;
  for (const auto& m : m_messages) n += (m == text);
  return n;
}

bool CTraceCapture::Contains(const std::wstring& part) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& m : m_messages)
    if (m.find(part) != std::wstring::npos) return true;
  return false;
}

void CTraceCapture::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_messages.clear();
}
