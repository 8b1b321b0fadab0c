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
    windows_error zero("t");
    EXPECT_STREQ(zero.what(), "t (Windows error code: 0 )");

    platform::SetLastError(1450);
    windows_error e(FormatErrorText("f", 3, "Event::SetEvent: Can't set the event"));
    platform::SetLastError(5);
    const std::string full =
        "Event::SetEvent: Can't set the event; File: f; Line: 3 (Windows error code: 1450 )";
    EXPECT_EQ(e.what(), full);

    // Thrown and caught through the base: the copy keeps the full text.
    try {
        throw e;
    } catch (const std::logic_error& caught) {
        EXPECT_EQ(caught.what(), full);
    }
}

TEST(TSException, WhatIsTheMessageAloneAndCopiesKeepEveryField) {
    try {
        throw Halden::ParserException("Duplicate mapping identified for X",
                                      "Common/Headers/PrinterStates", 101, -1);
    } catch (const Halden::TSException& e) {
        EXPECT_STREQ(e.what(), "Duplicate mapping identified for X");
        EXPECT_EQ(e.file(), "Common/Headers/PrinterStates");
        EXPECT_EQ(e.line(), 101);
        const auto* parser = dynamic_cast<const Halden::ParserException*>(&e);
        ASSERT_NE(parser, nullptr);
        EXPECT_EQ(parser->code(), -1);
        Halden::ParserException copy(*parser);
        EXPECT_EQ(copy.file(), "Common/Headers/PrinterStates");
        EXPECT_EQ(copy.line(), 101);
    }
    Halden::TSRuntimeError runtime("Error during initialization", "", 0);
    EXPECT_STREQ(runtime.what(), "Error during initialization");
    EXPECT_TRUE(runtime.file().empty());
}
