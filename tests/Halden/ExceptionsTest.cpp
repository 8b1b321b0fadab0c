#include <gtest/gtest.h>

#include <string>

#include "Halden/ParserException.h"
#include "Halden/TSException.h"
#include "Halden/TSRuntimeError.h"
#include "Halden/windows/FormatErrorText.h"
#include "Halden/windows/windows_error.h"
#include "platform/LastError.h"

TEST(FormatErrorText, AppendsFileAndLineWithNothingAfter) {
    EXPECT_EQ(FormatErrorText("f", 7, "Invalid state"), "Invalid state; File: f; Line: 7");
    EXPECT_EQ(FormatErrorText("a/b.cpp", -12, "x"), "x; File: a/b.cpp; Line: -12");
}

TEST(WindowsError, CarriesLastErrorReadAtConstruction) {
    platform::SetLastError(0);
    EXPECT_STREQ(windows_error("t").what(), "t (Windows error code: 0 )");
    platform::SetLastError(1450);
    const windows_error e("Event::SetEvent: Can't set the event");
    platform::SetLastError(5);
    EXPECT_STREQ(e.what(), "Event::SetEvent: Can't set the event (Windows error code: 1450 )");
}

TEST(TSException, WhatIsTheMessageAloneAndCopiesKeepEveryField) {
    const Halden::ParserException original("Duplicate mapping identified for X", "Common/x", 101,
                                           -1);
    const Halden::ParserException copy(original);
    const Halden::TSException& e = copy;
    EXPECT_EQ(std::string(e.what()) + "|" + e.file() + "|" + std::to_string(e.line()) + "|" +
                  std::to_string(copy.code()),
              "Duplicate mapping identified for X|Common/x|101|-1");
    const Halden::TSRuntimeError runtime("Error during initialization", "", 0);
    EXPECT_EQ(runtime.what() + ("@" + runtime.file()), "Error during initialization@");
}
