#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/platform.h"

namespace annc {
namespace {

TEST(ErrorReportTest, TwoLines) {
  EXPECT_EQ(ErrorReport(UnhandledError{"EFOpenError", "Cannot open file /a/Numvoice/aon.db", 0x1a2b},
                        "annc"),
            "Exception EFOpenError in module annc at 00001A2B.\nCannot open file /a/Numvoice/aon.db.\r\n");
  EXPECT_EQ(ErrorReport(UnhandledError{"EInOutError", "ends.", 0xFFFFFFFF}, "x"),
            "Exception EInOutError in module x at FFFFFFFF.\nends.\r\n");
}

TEST(FailureTextTest, OperationAndSystemText) {
  EXPECT_EQ(FailureText("PurgeComm", ENOTTY), " PurgeComm Inappropriate ioctl for device");
  EXPECT_EQ(FailureText("GetOverlappedResult", "End of file"), " GetOverlappedResult End of file");
  EXPECT_EQ(SystemErrorText(EBADF), "Bad file descriptor");  // no final dot or blank
}

TEST(CannotTextTest, WhatAndSystemText) {
  const struct {
    const char* what;
    int error;
    const char* want;
  } cases[] = {
      {"start annc", ENOENT, "cannot start annc: No such file or directory"},
      {"watch signals", EMFILE, "cannot watch signals: Too many open files"},
      {"set TCP_KEEPIDLE", ENOPROTOOPT, "cannot set TCP_KEEPIDLE: Protocol not available"},
      {"", EACCES, "cannot : Permission denied"},
  };
  for (const auto& c : cases) EXPECT_EQ(CannotText(c.what, c.error), c.want) << c.what;
}

}  // namespace
}  // namespace annc
