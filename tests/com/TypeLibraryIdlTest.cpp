// The type library's source names the GUIDs the code and the registration
// use (com/Interfaces.h), so that the Windows module's library cannot
// drift from them.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <regex>
#include <string>

#include "com/Interfaces.h"
#include "common/TestEnv.h"

using namespace ostrel::test;

namespace {

// "XXXXXXXX-XXXX-...", as the IDL writes it.
std::string Text(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  const std::wstring braced = text;
  return std::string(braced.begin() + 1, braced.end() - 1);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

TEST(TypeLibraryIdlTest, NamesTheModulesGuidsAndEachClassesDefaultInterface) {
  const std::string idl =
      ReadFileBytes(OSTREL_TEST_SOURCE_DIR "/../../src/com/OstrelAntiPhishingBHO.idl");
  ASSERT_FALSE(idl.empty());

  // Every entry with an identity: "[... uuid(G) ...] library|interface|coclass NAME".
  std::map<std::string, std::string> uuids;
  const std::regex entry(R"(\[([^\[\]]*)\]\s*(library|interface|coclass)\s+(\w+))");
  const std::regex uuid(R"(uuid\(\s*([0-9A-Fa-f-]+)\s*\))");
  for (auto it = std::sregex_iterator(idl.begin(), idl.end(), entry);
       it != std::sregex_iterator(); ++it) {
    const std::string attributes = (*it)[1];
    std::smatch id;
    if (std::regex_search(attributes, id, uuid)) {
      EXPECT_TRUE(uuids.emplace((*it)[3], Upper(id[1])).second) << "twice: " << (*it)[3];
    }
  }
  const std::map<std::string, std::string> expected = {
      {"OSTRELANTIPHISHINGBHOLib", Text(LIBID_OSTRELANTIPHISHINGBHOLib)},
      {"IMyBHO", Text(IID_IMyBHO)},
      {"IMyCfgDlgCmdTarget", Text(IID_IMyCfgDlgCmdTarget)},
      {"MyBHO", Text(CLSID_MyBHO)},
      {"MyCfgDlgCmdTarget", Text(CLSID_MyCfgDlgCmdTarget)},
  };
  EXPECT_EQ(uuids, expected);

  std::map<std::string, std::string> defaults;
  const std::regex coclass(R"(coclass\s+(\w+)\s*\{\s*\[\s*default\s*\]\s*interface\s+(\w+)\s*;)");
  for (auto it = std::sregex_iterator(idl.begin(), idl.end(), coclass);
       it != std::sregex_iterator(); ++it)
    defaults[(*it)[1]] = (*it)[2];
  const std::map<std::string, std::string> expectedDefaults = {
      {"MyBHO", "IMyBHO"}, {"MyCfgDlgCmdTarget", "IMyCfgDlgCmdTarget"}};
  EXPECT_EQ(defaults, expectedDefaults);
}
