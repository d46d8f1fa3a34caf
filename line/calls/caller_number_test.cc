#include "line/calls/caller_number.h"

#include <gtest/gtest.h>

#include <string>

namespace annc {
namespace {

TEST(CallerNumberTest, MarkersAndNumbers) {
  struct Case {
    std::string raw;
    std::string announced;
  } cases[] = {
      // Withheld or unknown, as modems and NCID servers write it.
      {"P", "Unknown"},
      {"o", "Unknown"},
      {"A", "Unknown"},
      {"PRIVATE", "Unknown"},
      {"Private", "Unknown"},
      {"ANONYMOUS", "Unknown"},
      {"out-of-area", "Unknown"},
      {"Unavailable", "Unknown"},
      {"WITHHELD", "Unknown"},
      {"NO-NUMBER", "Unknown"},
      {"", "Unknown"},
      {"   ", "Unknown"},
      {" P\r", "Unknown"},
      // Numbers pass through, trimmed.
      {"5551234", "5551234"},
      {" 4075550000 ", "4075550000"},
      {"+44 20 7946 0123", "+44 20 7946 0123"},
      {"0000000000", "0000000000"},
      // Only whole markers count.
      {"PP", "PP"},
      {"PRIVATE1", "PRIVATE1"},
      {"0", "0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnnouncedNumber(c.raw), c.announced) << "raw \"" << c.raw << "\"";
  }
}

TEST(CallerNumberTest, OnlyDigitsReachAnncsCommandLine) {
  struct Case {
    const char* number;
    const char* announced;
  };
  const Case cases[] = {
      {"5551234", "5551234"},
      {" 9196278340 ", "9196278340"},
      {"P", "Unknown"},
      {"p", "Unknown"},
      {"O", "Unknown"},
      {"A", "Unknown"},
      {"PRIVATE", "Unknown"},
      {"Private", "Unknown"},
      {"ANONYMOUS", "Unknown"},
      {"OUT-OF-AREA", "Unknown"},
      {"UNAVAILABLE", "Unknown"},
      {"Withheld", "Unknown"},
      {"no-number", "Unknown"},
      {"", "Unknown"},
      {"   ", "Unknown"},
      {"Restricted", "Unknown"},  // no digit
      {"+44 20 7946 0123", "442079460123"},
      {"555-1234", "5551234"},
      // Text from the network never becomes a switch of annc's.
      {"/L:/etc/passwd", "Unknown"},
      {"-H:3", "3"},
      {"5551234:2", "55512342"},
  };
  for (const Case& c : cases) EXPECT_EQ(AnnouncerArgument(c.number), c.announced) << c.number;
}

}  // namespace
}  // namespace annc
