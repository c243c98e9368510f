// korvan-cli --list-ports: the device records read through the Setup API's
// call table, played here (Wine records none), and their columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port_listing.h"
#include "port_records.h"

namespace {

// One device of the ports class as the played Setup API knows it.
struct PlayedDevice {
    const char* portName; // nullptr: a device without "PortName"
    const char* friendlyName;
    const char* maker;
    const char* hardwareId; // a multi-string: its first string
};

std::vector<PlayedDevice> devices;
HDEVINFO const kPlayedList = reinterpret_cast<HDEVINFO>(0x5e7);
bool listDestroyed = false;
DWORD classFlags = 0;

HDEVINFO WINAPI PlayGetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
    classFlags = flags;
    return kPlayedList;
}

BOOL WINAPI PlayEnumDeviceInfo(HDEVINFO list, DWORD index, PSP_DEVINFO_DATA device) {
    if (list != kPlayedList || index >= devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    device->DevInst = index;
    return TRUE;
}

BOOL WINAPI PlayProperty(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                         PBYTE buffer, DWORD size, PDWORD) {
    const PlayedDevice& played = devices[device->DevInst];
    const char* text = property == SPDRP_FRIENDLYNAME ? played.friendlyName
                       : property == SPDRP_MFG        ? played.maker
                       : property == SPDRP_HARDWAREID ? played.hardwareId
                                                      : nullptr;
    if (text == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    std::string data(text);
    data.push_back(0);
    if (property == SPDRP_HARDWAREID) {
        data += "USB\\OTHER";
        data.push_back(0);
        data.push_back(0);
    }
    if (data.size() > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *type = property == SPDRP_HARDWAREID ? REG_MULTI_SZ : REG_SZ;
    memcpy(buffer, data.data(), data.size());
    return TRUE;
}

HKEY WINAPI PlayOpenKey(HDEVINFO, PSP_DEVINFO_DATA device, DWORD, DWORD, DWORD, REGSAM) {
    return reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1000 + device->DevInst));
}

LONG WINAPI PlayQueryValue(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data,
                           LPDWORD size) {
    const PlayedDevice& played = devices[reinterpret_cast<uintptr_t>(key) - 0x1000];
    if (played.portName == nullptr || std::string(name) != "PortName") {
        return ERROR_FILE_NOT_FOUND;
    }
    const DWORD length = static_cast<DWORD>(strlen(played.portName) + 1);
    if (length > *size) {
        return ERROR_MORE_DATA;
    }
    *type = REG_SZ;
    memcpy(data, played.portName, length);
    *size = length;
    return ERROR_SUCCESS;
}

LONG WINAPI PlayCloseKey(HKEY) {
    return ERROR_SUCCESS;
}

BOOL WINAPI PlayDestroy(HDEVINFO list) {
    listDestroyed = list == kPlayedList;
    return TRUE;
}

class PortListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        portRecordCalls = {PlayGetClassDevs, PlayEnumDeviceInfo, PlayProperty, PlayOpenKey,
                           PlayQueryValue,   PlayCloseKey,       PlayDestroy};
        listDestroyed = false;
    }
    void TearDown() override {
        portRecordCalls = kPlatformPortRecordCalls;
        devices.clear();
    }
};

} // namespace

TEST_F(PortListingTest, ReadsNameMakerAndUsbIdsOfEachPresentPort) {
    devices = {
        {"COM5", "USB-SERIAL CH340 (COM5)", "wch.cn", "USB\\VID_1A86&PID_7523&REV_0254"},
        {"LPT1", "Printer Port (LPT1)", "(Standard port types)", "ACPI\\PNP0400"},
        {"COM1", "Communications Port (COM1)", "(Standard port types)", "ACPI\\PNP0501"},
        {nullptr, "Something without a port name", "x", "y"},
        {"COM12", "USB Serial Port (COM12)", "FTDI", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"},
        {"COM7", nullptr, nullptr, nullptr},
    };
    PortRecord records[8];
    ASSERT_EQ(ReadPortRecords(records, 8), 4);
    EXPECT_EQ(classFlags, static_cast<DWORD>(DIGCF_PRESENT));
    EXPECT_TRUE(listDestroyed);
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
