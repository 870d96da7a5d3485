// Hash keys across processes: a probe program, with GUID creation failing
// through the platform's test seam, has a secret of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Utf8.h"
#include "uri/Uri.h"

namespace {

std::wstring KeyOf(const std::wstring& uri) { return CUri(uri).GetHashKey(); }

bool Verifies(const std::wstring& uri, const std::wstring& key) {
  return CUri(uri + L"(" + key + L")").HasValidHashKey();
}

// Runs the probe program: a fresh process with its own secret.
std::vector<std::string> Probe(const std::string& args) {
  std::vector<std::string> lines;
  FILE* out = popen((std::string(OSTREL_KEY_PROBE) + " " + args).c_str(), "r");
  for (char line[4096]; out && std::fgets(line, sizeof line, out);)
    lines.emplace_back(line, std::strcspn(line, "\n"));
  if (out) pclose(out);
  return lines;
}

}  // namespace

TEST(HashKeyProcessTest, AKeyOfAnotherProcessNeverVerifies) {
  // Even when the GUID source fails, each process has its own secret.
  const std::string url = "http://www.example.com/";
  const std::string ours = ostrel::platform::ToUtf8(KeyOf(L"http://www.example.com/"));
  const std::vector<std::string> first =
      Probe("--fail-guid " + url + " '" + url + "(" + ours + ")'");
  ASSERT_EQ(first.size(), 3u);
  const std::vector<std::string> second =
      Probe("--fail-guid " + url + " '" + url + "(" + first[0] + ")'");
  ASSERT_EQ(second.size(), 3u);
  EXPECT_FALSE(Verifies(L"http://www.example.com/", ostrel::platform::FromUtf8(first[0])));
  // Each probe's own key verifies in it; ours does not, nor the other's:
  // so the three keys differ.
  EXPECT_EQ(first[1] + second[1], "11");
  EXPECT_EQ(first[2], "0");
  EXPECT_EQ(second[2], "0");
}
