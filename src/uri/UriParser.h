// CUriParser: one question to the platform's URL cracker. It cracks the URI
// it is built from at once, into six owned component buffers, and answers
// with copies; the static shortcuts ask only for the component they need
// (a scheme question reads only the text up to the first ":"), so a long
// address costs one pass, not six copies. A URI the cracker rejects reads
// as empty components and scheme number 0, except that an address whose
// scheme was recognised but whose host or port a browser would refuse
// keeps its scheme: an http address that cannot be read is still an http
// address, to be scanned, not passed as "no http". Not shared between
// threads; lives for one question (the static shortcuts build one, ask,
// and drop it).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/WinInet.h"

class CUriParser {
 public:
  CUriParser(const std::wstring& uri, DWORD flags);
  CUriParser(const CUriParser&) = delete;
  CUriParser& operator=(const CUriParser&) = delete;
  virtual ~CUriParser();

  std::wstring GetScheme() const;
  std::wstring GetHost() const;
  std::wstring GetUserName() const;
  std::wstring GetPassword() const;
  std::wstring GetUrlPath() const;
  std::wstring GetExtraInfo() const;
  LONG GetSchemeNumber() const;
  INTERNET_PORT GetPort() const;
  // The path and extra information without a copy: views of this parser's
  // buffers, valid while it lives.
  std::wstring_view GetUrlPathView() const;
  std::wstring_view GetExtraInfoView() const;

  static bool IsKnownScheme(const std::wstring& uri, DWORD flags);
  static bool IsHttpScheme(const std::wstring& uri, DWORD flags);
  static std::wstring GetScheme(const std::wstring& uri, DWORD flags);
  static std::wstring GetHost(const std::wstring& uri, DWORD flags);
  static std::wstring GetUrlPath(const std::wstring& uri, DWORD flags);

 private:
  // One component: its buffer (announced + 1 wide characters), the length
  // the record announces for it, and the length the cracker delivered (the
  // text may hold a decoded NUL).
  struct Component {
    std::unique_ptr<wchar_t[]> buffer;
    DWORD announced = 0;
    DWORD length = 0;
    std::wstring_view View() const {
      return length ? std::wstring_view(buffer.get(), length) : std::wstring_view();
    }
    std::wstring Text() const { return std::wstring(View()); }
  };
  enum { kScheme, kHost, kUserName, kPassword, kUrlPath, kExtraInfo, kComponents };

  enum : unsigned { kAll = (1u << kComponents) - 1 };

  // Cracks the first length characters of uri, asking only for the
  // components whose bits are set in wanted.
  CUriParser(const std::wstring& uri, std::size_t length, DWORD flags, unsigned wanted);
  // The scheme question's parser: uri up to its first ":", scheme only.
  static LONG SchemeNumberOf(const std::wstring& uri, DWORD flags);
  bool Crack(const std::wstring& uri, std::size_t length, unsigned wanted);

  DWORD m_flags;
  std::unique_ptr<URL_COMPONENTSW> m_components;
  Component m_parts[kComponents];
};
