#include <gtest/gtest.h>

#include <functional>

#include "Halden/TSException.h"
#include "tests/Common/DescriptionLoadSupport.h"

namespace {

// "what@file:line" of the TSException thrown by f.
std::string Thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const Halden::TSException& e) {
        return e.what() + ("@" + e.file()) + ":" + std::to_string(e.line());
    }
    return "nothing thrown";
}

HeadDefinition Head(const std::string& id, const std::string& prefix) {
    return HeadDefinition{id, {}, {FirmwareNameSpec{prefix, "bin"}}};
}

}  // namespace

TEST(PrinterDescription, ConstructorsSetIdsAndDefaults) {
    const std::string defaults =
        " Unknown/-1 Unknown/-1 Unknown/-1 m-1 d-1 c-1 r0 s0 b1 [||] 000000000";
    EXPECT_EQ(Summary(PrinterDescription()), "4294967295:4294967295" + defaults);
    EXPECT_EQ(Summary(PrinterDescription(0x1343, 5)), "4931:5" + defaults);
}

TEST(PrinterDescription, GetHeadAndGetDefaultHeadMatchExactly) {
    PrinterDescription d;
    EXPECT_EQ(Thrown([&] { d.GetDefaultHead(); }), "Can't find default head@:0");
    d.heads["RVX2"] = Head("RVX2", "rvx2_");
    d.heads["B"] = Head("B", "b_");
    EXPECT_EQ(d.GetHead("RVX2").firmwareNameSpecs.at(0).prefix, "rvx2_");
    EXPECT_EQ(Thrown([&] { d.GetHead("rvx2"); }), "Can't find head: rvx2@:0");
    // An empty default names no head unless a head has an empty id.
    EXPECT_EQ(Thrown([&] { d.GetDefaultHead(); }), "Can't find default head@:0");
    d.defaultHead = "B";
    EXPECT_EQ(d.GetDefaultHead().firmwareNameSpecs.at(0).prefix, "b_");
    d.heads[""] = Head("", "blank_");
    d.defaultHead = "";
    EXPECT_EQ(d.GetDefaultHead().firmwareNameSpecs.at(0).prefix, "blank_");
}
