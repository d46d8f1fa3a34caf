#include "line/mqtt/mosquitto_library.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

TEST(MosquittoLibraryTest, LoadedWithEveryFunctionOrNotAtAll) {
  struct Case {
    const char* file;
    const char* error;  // what the one line begins with; "" for none
  };
  const Case cases[] = {
      {kMosquittoLibraryFile, ""},
      {"libannc-no-such-library.so.1", "cannot load libannc-no-such-library.so.1: "},
      // A library that is there but is not libmosquitto.
      {"libc.so.6", "libmosquitto lacks mosquitto_lib_init (libc.so.6)"},
  };
  for (const Case& c : cases) {
    MosquittoLibrary library;
    std::string error = "left from before";
    bool loaded = LoadMosquittoFrom(c.file, &library, &error);
    EXPECT_EQ(loaded, *c.error == '\0') << c.file;
    EXPECT_TRUE(error.starts_with(c.error)) << c.file << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    // Every function found, or none kept.
    EXPECT_EQ(library.publish != nullptr, loaded) << c.file;
    EXPECT_EQ(library.disconnect != nullptr, loaded) << c.file;
    EXPECT_EQ(library.lib_init != nullptr, loaded) << c.file;
  }
}

TEST(MosquittoLibraryTest, TheProcessWideLibraryIsSetUpOnce) {
  std::string error;
  const MosquittoLibrary* first = Mosquitto(&error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_EQ(Mosquitto(&error), first);
  // Set up: a client can be made and its socket (none yet) asked for.
  mosquitto* client = first->new_client(nullptr, true, nullptr);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(first->socket(client), -1);
  first->destroy(client);
}

}  // namespace
}  // namespace annc
