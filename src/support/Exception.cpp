#include "support/Exception.h"

#include "support/Trace.h"

CException::CException(const std::wstring& message, DWORD code) : m_message(message), m_code(code) {
  Trace(L"Exception raised...");
}

CException::CException(const CException& other) : m_message(other.m_message), m_code(other.m_code) {}

CException::~CException() = default;

void CException::Raise(const std::wstring& message, DWORD code) {
  CException raised(message, code);
  throw raised;
}

std::wstring CException::GetMessage() const { return m_message; }

DWORD CException::GetCode() const { return m_code; }

void CException::Trace(const std::wstring& heading) const {
  // Heading and message go through "%s": they may contain '%'.
  TraceMessage(L"***********************\r\n");
  TraceMessage(L"*** EXCEPTION TRACE ***\r\n");
  TraceMessage(L"%s", heading.c_str());
  TraceMessage(L"\r\n");
  TraceMessage(L"%s", m_message.c_str());
  TraceMessage(L"\r\n");
  TraceMessage(L"***********************\r\n");
}
