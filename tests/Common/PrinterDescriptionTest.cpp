#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "Common/Headers/PrinterDescription.h"
#include "Halden/TSException.h"

namespace {

void ExpectDefaultsBesideIds(const PrinterDescription& d) {
    const std::string unknown = "Unknown";
    EXPECT_EQ(std::tie(d.productName, d.longName, d.shortName),
              std::tie(unknown, unknown, unknown));
    EXPECT_EQ(std::make_tuple(d.productNameResourceId, d.longNameResourceId, d.shortNameResourceId,
                              d.mediaRemaining, d.dragAndDrop, d.firmwareCrcVerify, d.rotate),
              std::make_tuple(-1, -1, -1, -1, -1, -1, 0));
    EXPECT_FALSE(d.stripVersionBytes);
    EXPECT_TRUE(d.requiresReboot);
    EXPECT_TRUE(d.icon.empty() && d.lutNames.empty() && d.defaultLut.empty() &&
                d.defaultHead.empty() && d.heads.empty() && d.papers.empty() &&
                d.donorMediaMappings.empty() && d.mediaCapacities.empty() &&
                d.paperIdsByReportedSize.empty() && d.sendToPrinterAs.empty() &&
                d.connections.empty() && d.customProperties.empty());
}

// The message of the TSException thrown by f, which must also carry no file and line 0.
template <typename F>
std::optional<std::string> ThrownMessage(F f) {
    try {
        f();
    } catch (const Halden::TSException& e) {
        EXPECT_TRUE(e.file().empty());
        EXPECT_EQ(e.line(), 0);
        return std::string(e.what());
    }
    return std::nullopt;
}

HeadDefinition Head(const std::string& id, const std::string& prefix) {
    return HeadDefinition{
        id, {LutModule{"lut", "module", 3, -1}}, {FirmwareNameSpec{prefix, "bin"}}};
}

}  // namespace

TEST(PrinterDescription, ConstructorsSetIdsAndDefaults) {
    const PrinterDescription byDefault;
    EXPECT_EQ(byDefault.vendorId, 0xFFFFFFFFu);
    EXPECT_EQ(byDefault.productId, 0xFFFFFFFFu);
    ExpectDefaultsBesideIds(byDefault);

    const PrinterDescription withIds(0x1343, 0x0005);
    EXPECT_EQ(withIds.vendorId, 0x1343u);
    EXPECT_EQ(withIds.productId, 0x0005u);
    ExpectDefaultsBesideIds(withIds);
}

TEST(PrinterDescription, GetHeadAndGetDefaultHeadMatchExactly) {
    PrinterDescription d;
    EXPECT_EQ(ThrownMessage([&] { d.GetDefaultHead(); }), "Can't find default head");
    d.heads["RVX2"] = Head("RVX2", "rvx2_");
    d.heads["B"] = Head("B", "b_");
    const HeadDefinition found = d.GetHead("RVX2");
    EXPECT_EQ(found.id, "RVX2");
    EXPECT_EQ(found.firmwareNameSpecs.at(0).prefix, "rvx2_");
    EXPECT_EQ(found.lutModules.at(0).donor, 3);
    EXPECT_EQ(ThrownMessage([&] { d.GetHead("rvx2"); }), "Can't find head: rvx2");
    EXPECT_EQ(ThrownMessage([&] { d.GetHead("RVX2 "); }), "Can't find head: RVX2 ");
    // An empty default names no head unless a head has an empty id.
    EXPECT_EQ(ThrownMessage([&] { d.GetDefaultHead(); }), "Can't find default head");
    d.defaultHead = "b";
    EXPECT_EQ(ThrownMessage([&] { d.GetDefaultHead(); }), "Can't find default head");
    d.defaultHead = "B";
    EXPECT_EQ(d.GetDefaultHead().firmwareNameSpecs.at(0).prefix, "b_");
    d.heads[""] = Head("", "blank_");
    d.defaultHead = "";
    EXPECT_EQ(d.GetDefaultHead().firmwareNameSpecs.at(0).prefix, "blank_");
    EXPECT_EQ(d.heads.size(), 3u);
}

// Copies are member-wise; what matters is that the connections are shared, not cloned.
TEST(PrinterDescription, CopiesShareConnectionsThatOutliveTheSource) {
    boost::weak_ptr<const ConnectionType> watch;
    std::optional<PrinterDescription> copy;
    {
        PrinterDescription source(1, 2);
        source.connections.push_back(
            boost::make_shared<USBConnection>(ConnectionType::kFormatJpeg));
        watch = source.connections[0];
        copy = source;
        EXPECT_EQ(copy->connections[0].get(), source.connections[0].get());
        EXPECT_EQ(watch.use_count(), 2);
    }
    EXPECT_EQ(watch.use_count(), 1);
    EXPECT_EQ(copy->connections[0]->outputFormat, ConnectionType::kFormatJpeg);
    copy.reset();
    EXPECT_TRUE(watch.expired());
}

// The loader's tests print every form; here the operator, the returned stream and the kinds.
TEST(ConnectionType, StreamOperatorAndKinds) {
    const NetworkConnection network(2, 1);
    const USBConnection usb(1);
    std::ostringstream out;
    EXPECT_EQ(&network.Print(out), &out);
    out << "|" << usb;
    EXPECT_EQ(out.str(),
              "NetworkConnection: { outputFormat = 2, discoveryProtocol = 1 }|"
              "USBConnection: { outputFormat = 1 }");
    EXPECT_EQ(network.kind, ConnectionType::kKindNetwork);
    EXPECT_EQ(usb.kind, ConnectionType::kKindUsb);
}
