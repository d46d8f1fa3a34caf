#include "text/paths.h"

#include <gtest/gtest.h>

namespace annc {
namespace {

TEST(ChangeExtensionTest, ReplacesOrAppends) {
  EXPECT_EQ(ChangeExtension("/opt/calls/annc.bin", "log"), "/opt/calls/annc.log");
  EXPECT_EQ(ChangeExtension("/opt/my.dir/annc", "log"), "/opt/my.dir/annc.log");
  EXPECT_EQ(ChangeExtension("annc.", "log"), "annc.log");
  EXPECT_EQ(ChangeExtension("annc", "log"), "annc.log");
  EXPECT_EQ(ChangeExtension("build/annc", "log"), "build/annc.log");
  EXPECT_EQ(ChangeExtension("", "log"), ".log");
  // A colon is an ordinary character here.
  EXPECT_EQ(ChangeExtension("/a/c:annc", "log"), "/a/c:annc.log");
}

TEST(ChangeExtensionTest, OnlyTheNext64CharactersDecide) {
  // A separator further than 64 characters after the dot is not seen.
  std::string path = "/x.d" + std::string(70, 'a') + "/annc";
  EXPECT_EQ(ChangeExtension(path, "log"), "/x.log");
  std::string near = "/x.d" + std::string(10, 'a') + "/annc";
  EXPECT_EQ(ChangeExtension(near, "log"), near + ".log");
  EXPECT_EQ(HasExtension("a.b/c").dotPos, 2u);
  EXPECT_FALSE(HasExtension("a.b/c").hasExtension);
  EXPECT_EQ(HasExtension("abc").dotPos, 0u);
}

TEST(PathsTest, FolderAndBaseName) {
  EXPECT_EQ(FolderOf("/opt/annc/annc"), "/opt/annc/");
  EXPECT_EQ(FolderOf("/annc"), "/");
  EXPECT_EQ(FolderOf("c:annc"), "");
  EXPECT_EQ(BaseName("/opt/annc/annc"), "annc");
  EXPECT_EQ(BaseName("annc"), "annc");
  EXPECT_EQ(BaseName("/opt/annc/"), "");
}

}  // namespace
}  // namespace annc
