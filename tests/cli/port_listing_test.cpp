// korvan-cli --list-ports: the device records read through the Setup API's
// call table, played here (Wine records none), and their columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_listing.h"
#include "port_records.h"
#include "support/played_devices.h"

namespace {

class PortListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PlayDevices({});
    }
    void TearDown() override {
        StopPlayingDevices();
    }
};

} // namespace

TEST_F(PortListingTest, ReadsNameMakerAndUsbIdsOfEachPresentPort) {
    PlayDevices({
        {"COM5", "USB-SERIAL CH340 (COM5)", "wch.cn", "USB\\VID_1A86&PID_7523&REV_0254"},
        {"LPT1", "Printer Port (LPT1)", "(Standard port types)", "ACPI\\PNP0400"},
        {"COM1", "Communications Port (COM1)", "(Standard port types)", "ACPI\\PNP0501"},
        {nullptr, "Something without a port name", "x", "y"},
        {"COM12", "USB Serial Port (COM12)", "FTDI", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"},
        {"COM7", nullptr, nullptr, nullptr},
    });
    PortRecord records[8];
    ASSERT_EQ(ReadPortRecords(records, 8), 4);
    EXPECT_EQ(PlayedClassFlags(), static_cast<DWORD>(DIGCF_PRESENT));
    EXPECT_TRUE(PlayedListDestroyed());
    EXPECT_EQ(records[0].port, 5);
    EXPECT_STREQ(records[0].friendlyName, "USB-SERIAL CH340 (COM5)");
    EXPECT_STREQ(records[0].maker, "wch.cn");
    EXPECT_EQ(records[0].usb, 1);
    EXPECT_EQ(records[0].vendorId, 0x1A86);
    EXPECT_EQ(records[0].productId, 0x7523);
    EXPECT_EQ(records[1].port, 1);
    EXPECT_EQ(records[1].usb, 0);
    EXPECT_EQ(records[2].port, 12);
    EXPECT_EQ(records[2].vendorId, 0x0403);
    EXPECT_EQ(records[2].productId, 0x6001);
    EXPECT_EQ(records[3].port, 7); // a device whose properties are missing
    EXPECT_STREQ(records[3].friendlyName, "");
    EXPECT_EQ(records[3].usb, 0);

    // Ports from the drivers' list and from the records, each once, in
    // columns; COM2 has no record and shows its name only.
    const int16_t present[] = {1, 2, 5, 12};
    EXPECT_EQ(PortListing(present, 4, records, 4),
              "COM1   Communications Port (COM1)  (Standard port types)\n"
              "COM2\n"
              "COM5   USB-SERIAL CH340 (COM5)     wch.cn                 USB 1A86:7523\n"
              "COM7\n"
              "COM12  USB Serial Port (COM12)     FTDI                   USB 0403:6001\n");
}

TEST_F(PortListingTest, WithoutAnyRecordEachPortShowsJustItsName) {
    PortRecord records[4];
    EXPECT_EQ(ReadPortRecords(records, 4), 0);
    const int16_t present[] = {3, 200};
    EXPECT_EQ(PortListing(present, 2, records, 0), "COM3\nCOM200\n");
    EXPECT_EQ(PortListing(present, 0, records, 0), "");
}

TEST(UsbIds, AreReadFromTheUsualHardwareIds) {
    uint16_t vendor = 0, product = 0;
    EXPECT_TRUE(ParseUsbIds("USB\\VID_067B&PID_2303&REV_0300", &vendor, &product));
    EXPECT_EQ(vendor, 0x067B);
    EXPECT_EQ(product, 0x2303);
    EXPECT_TRUE(ParseUsbIds("USB\\VID_10c4&PID_ea60", &vendor, &product));
    EXPECT_EQ(product, 0xEA60);
    EXPECT_FALSE(ParseUsbIds("ACPI\\PNP0501", &vendor, &product));
    EXPECT_FALSE(ParseUsbIds("USB\\VID_12&PID_3456", &vendor, &product));
    EXPECT_FALSE(ParseUsbIds("", &vendor, &product));
}

// A serial port over a Bluetooth link, however its stack names it.
TEST(BluetoothPorts, AreKnownByTheirEnumeratorOrTheirName) {
    EXPECT_TRUE(IsBluetoothPort("BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0002\\7&"
                                "1E3F&0&000000000000_00000000",
                                "Standard Serial over Bluetooth link (COM8)"));
    EXPECT_TRUE(IsBluetoothPort("bthenum\\{00001101-0000-1000-8000-00805f9b34fb}", ""));
    EXPECT_TRUE(IsBluetoothPort("BTHMODEM\\x", ""));
    EXPECT_TRUE(IsBluetoothPort("{F12D3CF8-B11D-457E-8641-BE2AF2D6D204}\\X",
                                "Standardmäßige Seriell-über-Bluetooth-Verbindung (COM9)"));
    EXPECT_FALSE(IsBluetoothPort("USB\\VID_1A86&PID_7523&REV_0254", "USB-SERIAL CH340 (COM5)"));
    EXPECT_FALSE(IsBluetoothPort("", ""));
}

TEST_F(PortListingTest, APortOfABluetoothLinkIsPassedOverByTheWatch) {
    PlayDevices({
        {"COM3", "Standard Serial over Bluetooth link (COM3)", "Microsoft",
         "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}_LOCALMFG&0000"},
        {"COM5", "USB-SERIAL CH340 (COM5)", "wch.cn", "USB\\VID_1A86&PID_7523&REV_0254"},
    });
    int16_t ports[] = {1, 3, 5, 12};
    ASSERT_EQ(PassOverBluetoothPorts(ports, 4), 3);
    EXPECT_EQ(ports[0], 1);
    EXPECT_EQ(ports[1], 5);
    EXPECT_EQ(ports[2], 12);
}
