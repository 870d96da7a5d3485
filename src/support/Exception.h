// CException: the one exception type the system raises. It carries a
// message and a 32-bit code (0 at every raise site) and writes a trace block
// when it is constructed; copies trace nothing, so a raise (build, then
// throw a copy) traces exactly once. Caught only at the browser-facing
// entry points and in settings reads.
#pragma once

#include <string>

#include "platform/WinTypes.h"

class CException {
 public:
  CException(const std::wstring& message, DWORD code);
  CException(const CException& other);
  CException& operator=(const CException& other) = default;
  virtual ~CException();

  // Builds the exception (tracing it) and throws a copy.
  [[noreturn]] static void Raise(const std::wstring& message, DWORD code = 0);

  std::wstring GetMessage() const;
  DWORD GetCode() const;

  // Emits the trace block: a line of asterisks, "*** EXCEPTION TRACE ***",
  // the heading, the message and a closing line of asterisks.
  void Trace(const std::wstring& heading) const;

 private:
  std::wstring m_message;
  DWORD m_code;
};
