// The resources as the dialog classes find them: bitmap 204 is ui/Shield.bmp
// as committed, the file the Windows resource script names too.
#include <gtest/gtest.h>

#include <string>

#include "common/TestEnv.h"
#include "ui/Resources.h"

TEST(ResourcesTest, TheShieldBitmapIsTheCommittedFileByteForByte) {
  const std::string file = ostrel::test::ReadFileBytes(OSTREL_TEST_SOURCE_DIR
                                                       "/../../src/ui/Shield.bmp");
  ASSERT_GT(file.size(), 54u);
  const BitmapResource* bitmap = FindBitmapResource(GetResourceInstance(), ConfigDlgIds::kBitmap);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bitmap->bmp), bitmap->size), file);
  EXPECT_EQ(FindBitmapResource(GetResourceInstance(), ConfigDlgIds::kBitmap + 1), nullptr);
}
