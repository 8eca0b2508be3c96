// The device lists of both libraries: every text read within its field, never more records than
// were allocated, driver failures reported.

#include "devices/DriverLists.h"
#include "tests/SimSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
using gxsim::Driver;

TEST(DriverRecords, TextsThatFillTheirFieldsEndAtTheField)
{
    FT_DEVICE_LIST_INFO_NODE node;
    std::memset(&node, 'Z', sizeof node);
    std::memset(node.SerialNumber, 'A', sizeof node.SerialNumber);
    std::memset(node.Description, 'B', sizeof node.Description);
    EXPECT_EQ(NodeSerialText(node), std::string(16, 'A'));
    EXPECT_EQ(NodeDescriptionText(node), std::string(64, 'B'));
    std::memcpy(node.SerialNumber,
                "12\0"
                "99",
                5);
    EXPECT_EQ(NodeSerialText(node), "12");

    VendorDeviceRecord records[2];
    std::memset(records, 'Q', sizeof records);
    std::memset(records[0].SerialNumber, '7', sizeof records[0].SerialNumber);
    records[0].DeviceCode[0] = 0x34;
    records[0].DeviceCode[1] = 0x12;
    EXPECT_EQ(RecordSerialText(records[0]), std::string(21, '7'));
    EXPECT_EQ(RecordDeviceCode(records[0]), 0x1234);
}

class DriverLists : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(BindSimulatorLibraries()); }
    SimSandbox sim;
};

TEST_F(DriverLists, FtdiListsPluggedFtdiDevicesInOrder)
{
    sim.Add(SimDevice("1001", Driver::Ftdi));
    gxsim::DeviceSetup full = SimDevice("ABCDEFGHIJKLMNOPQRS", Driver::Ftdi);  // longer than 16
    full.Description = std::string(64, 'D');
    sim.Add(full);
    gxsim::DeviceSetup other = SimDevice("77", Driver::Ftdi);
    other.Description = "FT232R USB UART";
    sim.Add(other);
    sim.Add(SimDevice("2002", Driver::Vendor));
    sim.Add(SimDevice("88", Driver::Ftdi));
    sim.Unplug("88");

    std::vector<FtdiListEntry> entries;
    ASSERT_EQ(ReadFtdiDeviceList(entries), DriverListResult::Ok);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Serial, "1001");
    EXPECT_EQ(entries[0].Description, "Geotrovix");
    EXPECT_EQ(entries[1].Serial, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(entries[1].Description, std::string(64, 'D'));
    EXPECT_EQ(entries[2].Serial, "77");
    EXPECT_EQ(entries[2].Description, "FT232R USB UART");
}

TEST_F(DriverLists, FtdiDescriptionReadLateIsEmptyAtFirst)
{
    gxsim::DeviceSetup late = SimDevice("1001", Driver::Ftdi);
    late.LateDescription = 2;
    sim.Add(late);
    std::vector<FtdiListEntry> entries;
    for (const char* expected : {"", "", "Geotrovix", "Geotrovix"}) {
        ASSERT_EQ(ReadFtdiDeviceList(entries), DriverListResult::Ok);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Description, expected);
    }
    // Plugged in again, the driver has to read the description anew.
    sim.Unplug("1001");
    sim.Plug("1001");
    ASSERT_EQ(ReadFtdiDeviceList(entries), DriverListResult::Ok);
    EXPECT_EQ(entries.at(0).Description, "");
}

TEST_F(DriverLists, VendorListsRecordsWithinWhatWasAllocated)
{
    gxsim::DeviceSetup a = SimDevice("123456789012345678901234", Driver::Vendor);  // longer than 21
    a.DeviceCode = 0xBEEF;
    sim.Add(a);
    gxsim::DeviceSetup b = SimDevice("42", Driver::Vendor);
    b.DeviceCode = 3;
    sim.Add(b);
    sim.Add(SimDevice("1001", Driver::Ftdi));
    // The second call reports more devices than the first allocated room for.
    ASSERT_TRUE(
        sim.Folder().UpdateLibrary([](gxsim::LibrarySetup& l) { l.VendorCountExtra = 40; }));

    std::vector<VendorListEntry> entries;
    ASSERT_EQ(ReadVendorDeviceList(entries), DriverListResult::Ok);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Serial, "123456789012345678901");
    EXPECT_EQ(entries[0].DeviceCode, 0xBEEF);
    EXPECT_EQ(entries[1].Serial, "42");
    EXPECT_EQ(entries[1].DeviceCode, 3);
}

TEST_F(DriverLists, EmptyListsAreNoError)
{
    sim.Add(SimDevice("5", Driver::Ftdi));
    sim.Unplug("5");
    std::vector<FtdiListEntry> ftdi{{"stale", "stale"}};
    std::vector<VendorListEntry> vendor{{"stale", 1}};
    EXPECT_EQ(ReadFtdiDeviceList(ftdi), DriverListResult::Ok);
    EXPECT_EQ(ReadVendorDeviceList(vendor), DriverListResult::Ok);
    EXPECT_TRUE(ftdi.empty());
    EXPECT_TRUE(vendor.empty());
}

struct FailureCase {
    const char* key;
    bool ftdi;
};
class FailingLists : public DriverLists, public testing::WithParamInterface<FailureCase> {};

TEST_P(FailingLists, AreDriverErrorsOfThatLibraryOnly)
{
    sim.Add(SimDevice("1001", Driver::Ftdi));
    sim.Add(SimDevice("2002", Driver::Vendor));
    std::string error;
    ASSERT_TRUE(sim.Folder().Modify(
        [&](gxsim::SimState& s, std::string& why) {
            return gxsim::SetLibraryField(s.Library, GetParam().key, "yes", why);
        },
        &error))
        << error;
    std::vector<FtdiListEntry> ftdi;
    std::vector<VendorListEntry> vendor;
    EXPECT_EQ(ReadFtdiDeviceList(ftdi),
              GetParam().ftdi ? DriverListResult::DriverError : DriverListResult::Ok);
    EXPECT_EQ(ReadVendorDeviceList(vendor),
              GetParam().ftdi ? DriverListResult::Ok : DriverListResult::DriverError);
    EXPECT_EQ(ftdi.size(), GetParam().ftdi ? 0u : 1u);
    EXPECT_EQ(vendor.size(), GetParam().ftdi ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Calls, FailingLists,
                         testing::Values(FailureCase{"ftdi_count_fails", true},
                                         FailureCase{"ftdi_list_fails", true},
                                         FailureCase{"vendor_count_fails", false},
                                         FailureCase{"vendor_list_fails", false}));
}  // namespace
