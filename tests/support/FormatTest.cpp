// Format and the Windows wide-printf meaning it relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/WChar.h"
#include "platform/WinTypes.h"
#include "support/Format.h"
#include "support/Trace.h"
#include "support/TraceCapture.h"

TEST(FormatTest, FollowsTheWindowsMeaningOfConversions) {
  EXPECT_EQ(Format(L"Whitelisting %s - %c\r\n", L"^evil\\.test/", L'w'),
            L"Whitelisting ^evil\\.test/ - w\r\n");
  EXPECT_EQ(Format(L"URI len %ld, URI end %ld'", static_cast<LONG>(22), static_cast<LONG>(-1)),
            L"URI len 22, URI end -1'");
  EXPECT_EQ(Format(L"'%lu'", static_cast<DWORD>(4294967295u)), L"'4294967295'");
  EXPECT_EQ(Format(L"%02.02x|%%%02.02X", 0x0au, 0xe9u), L"0a|%E9");
  EXPECT_EQ(Format(L"%I64d", static_cast<long long>(20050120102255)), L"20050120102255");
  EXPECT_EQ(Format(L"%hs/%S", "narrow", "also"), L"narrow/also");
  EXPECT_EQ(Format(L"%-4s|%5.2s|", L"ab", L"xyz"), L"ab  |   xy|");
  EXPECT_EQ(Format(L"plain"), L"plain");
}

TEST(FormatTest, CutsOutputAfter2047Characters) {
  const std::wstring longText(5000, L'x');
  const std::wstring out = Format(L"%s", longText.c_str());
  EXPECT_EQ(out.size(), 2047u);
  EXPECT_EQ(out, longText.substr(0, 2047));
  EXPECT_EQ(Format(L"%s", std::wstring(2047, L'y').c_str()).size(), 2047u);
  EXPECT_EQ(Format(L"%s", std::wstring(2046, L'y').c_str()).size(), 2046u);
}

TEST(FormatTest, CarriesCodeUnitsAboveLatin1Unchanged) {
  EXPECT_EQ(Format(L"%s", L"\u0416\u4e2d\U0001F600"), L"\u0416\u4e2d\U0001F600");
}

namespace {
int Snw(wchar_t* buffer, std::size_t count, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vsnwprintf(buffer, count, format, args);
  va_end(args);
  return n;
}
}  // namespace

TEST(FormatTest, VsnwprintfReportsTruncationAsWindowsDoes) {
  wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(Snw(buffer, 4, L"%s", L"abc"), 3);
  EXPECT_STREQ(buffer, L"abc");
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(Snw(buffer, 4, L"%s", L"abcd"), 4);  // fits exactly: no terminator
  EXPECT_EQ(std::wstring(buffer, 5), L"abcd#");
  std::fill(std::begin(buffer), std::end(buffer), L'#');
  EXPECT_EQ(Snw(buffer, 4, L"%s", L"abcdef"), -1);
  EXPECT_EQ(std::wstring(buffer, 5), L"abcd#");
}

namespace {
int Scw(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = _vscwprintf(format, args);
  va_end(args);
  return n;
}
}  // namespace

// A format that cannot be written (a narrow argument that is not valid text)
// is not a buffer that is too small: the sink keeps the format. Windows
// reads a narrow argument in the ANSI code page, where every byte is a
// character, so it has no such argument to test.
TEST(FormatTest, TraceKeepsTheFormatOfAnArgumentThatIsNotText) {
#ifdef _WIN32
  GTEST_SKIP() << "every byte is text in the ANSI code page (\\xff\\xfe reads as two characters)";
#endif
  EXPECT_EQ(Scw(L"%hs", "\xff\xfe"), -1);
  CTraceCapture capture;
  TraceMessage(L"bad %hs\r\n", "\xff\xfe");
  TraceMessage(L"ok %d\r\n", 5);
  EXPECT_EQ(capture.Messages(), (std::vector<std::wstring>{L"bad %hs\r\n", L"ok 5\r\n"}));
}

// A huge message is cut rather than grown without bound.
TEST(FormatTest, TraceCutsAHugeMessage) {
  EXPECT_EQ(Scw(L"%s|%d", L"abc", 7), 5);
  CTraceCapture capture;
  const std::wstring huge(300000, L'q');
  TraceMessage(L"[%s]", huge.c_str());
  TraceMessage(L"ok %d\r\n", 5);
  const auto messages = capture.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].size(), 65536u);
  EXPECT_EQ(messages[0].substr(0, 3), L"[qq");
  EXPECT_EQ(messages[1], L"ok 5\r\n");
}
