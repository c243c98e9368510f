#include "port_records.h"

#include <cstring>

#include "port_list.h"

PortRecordCalls portRecordCalls = {
    SetupDiGetClassDevsA,        SetupDiEnumDeviceInfo, SetupDiGetDeviceRegistryPropertyA,
    SetupDiOpenDevRegKey,        RegQueryValueExA,      RegCloseKey,
    SetupDiDestroyDeviceInfoList};
const PortRecordCalls kPlatformPortRecordCalls = portRecordCalls;

// The ports device class ("Ports (COM & LPT)").
static const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Four hexadecimal digits after tag ("VID_") in text.
static bool HexAfter(const char* text, const char* tag, uint16_t* value) {
    const char* at = strstr(text, tag);
    if (at == nullptr) {
        return false;
    }
    at += strlen(tag);
    uint16_t result = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = at[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            digit = (c | 0x20) - 'a' + 10;
        }
        if (digit < 0) {
            return false;
        }
        result = static_cast<uint16_t>(result * 16 + digit);
    }
    *value = result;
    return true;
}

bool ParseUsbIds(const char* hardwareId, uint16_t* vendorId, uint16_t* productId) {
    uint16_t vendor = 0;
    uint16_t product = 0;
    if (!HexAfter(hardwareId, "VID_", &vendor) || !HexAfter(hardwareId, "PID_", &product)) {
        return false;
    }
    *vendorId = vendor;
    *productId = product;
    return true;
}

// True when text begins with start, in any case.
static bool BeginsWith(const char* text, const char* start) {
    for (; *start != 0; ++text, ++start) {
        if ((*text | 0x20) != (*start | 0x20)) {
            return false;
        }
    }
    return true;
}

bool IsBluetoothPort(const char* hardwareId, const char* friendlyName) {
    if (BeginsWith(hardwareId, "BTHENUM\\") || BeginsWith(hardwareId, "BTHMODEM\\")) {
        return true;
    }
    for (const char* at = friendlyName; *at != 0; ++at) {
        if (BeginsWith(at, "bluetooth")) {
            return true;
        }
    }
    return false;
}

// A text property into text (room kRecordTextRoom); empty when it has none.
// A multi-string property gives its first string.
static void ReadTextProperty(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property,
                             char* text) {
    BYTE data[kRecordTextRoom + 2] = {};
    DWORD type = 0;
    text[0] = 0;
    if (!portRecordCalls.getDeviceRegistryProperty(devices, device, property, &type, data,
                                                   kRecordTextRoom, nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return;
    }
    memcpy(text, data, kRecordTextRoom - 1);
    text[kRecordTextRoom - 1] = 0;
}

// The port number of the device's "PortName"; 0 when it has none.
static int16_t DevicePort(HDEVINFO devices, SP_DEVINFO_DATA* device) {
    HKEY key = portRecordCalls.openDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                             KEY_QUERY_VALUE);
    if (key == nullptr || key == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char name[32] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    int16_t port = 0;
    if (portRecordCalls.queryValue(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                   &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        port = PortNumberOfName(name, size);
    }
    portRecordCalls.closeKey(key);
    return port;
}

int16_t ReadPortRecords(PortRecord* records, int16_t capacity) {
    HDEVINFO devices = portRecordCalls.getClassDevs(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int16_t count = 0;
    for (DWORD index = 0; count < capacity; ++index) {
        SP_DEVINFO_DATA device;
        ZeroMemory(&device, sizeof device);
        device.cbSize = sizeof device;
        if (!portRecordCalls.enumDeviceInfo(devices, index, &device)) {
            break;
        }
        const int16_t port = DevicePort(devices, &device);
        if (port == 0) {
            continue; // a printer port, or a device without a COM name
        }
        PortRecord* record = &records[count++];
        ZeroMemory(record, sizeof *record);
        record->port = port;
        ReadTextProperty(devices, &device, SPDRP_FRIENDLYNAME, record->friendlyName);
        ReadTextProperty(devices, &device, SPDRP_MFG, record->maker);
        char hardwareId[kRecordTextRoom];
        ReadTextProperty(devices, &device, SPDRP_HARDWAREID, hardwareId);
        record->usb = ParseUsbIds(hardwareId, &record->vendorId, &record->productId) ? 1 : 0;
        record->bluetooth = IsBluetoothPort(hardwareId, record->friendlyName) ? 1 : 0;
    }
    portRecordCalls.destroyDeviceInfoList(devices);
    return count;
}

int16_t PassOverBluetoothPorts(int16_t* ports, int16_t count) {
    static PortRecord records[kPortSlots];
    const int16_t recordCount = ReadPortRecords(records, kPortSlots);
    int16_t kept = 0;
    for (int16_t i = 0; i < count; ++i) {
        bool bluetooth = false;
        for (int16_t r = 0; r < recordCount; ++r) {
            bluetooth = bluetooth || (records[r].port == ports[i] && records[r].bluetooth != 0);
        }
        if (!bluetooth) {
            ports[kept++] = ports[i];
        }
    }
    return kept;
}
