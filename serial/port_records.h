// What Windows knows of each COM port's device: its friendly name, its
// maker and, for a USB device, the vendor and product IDs. Read with the
// Setup API from the ports device class, through a table of calls that a
// test can play (Wine records no such data for its ports).
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <cstdint>

struct PortRecordCalls {
    HDEVINFO(WINAPI* getClassDevs)
    (const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* enumDeviceInfo)(HDEVINFO devices, DWORD index, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* getDeviceRegistryProperty)
    (HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD property, PDWORD type, PBYTE buffer,
     DWORD size, PDWORD required);
    HKEY(WINAPI* openDevRegKey)
    (HDEVINFO devices, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile, DWORD keyType,
     REGSAM access);
    LONG(WINAPI* queryValue)
    (HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
    LONG(WINAPI* closeKey)(HKEY key);
    BOOL(WINAPI* destroyDeviceInfoList)(HDEVINFO devices);
};

// Defaults to the platform's functions.
extern PortRecordCalls portRecordCalls;
extern const PortRecordCalls kPlatformPortRecordCalls;

enum : int32_t { kRecordTextRoom = 128 };

struct PortRecord {
    int16_t port;                       // 1 to 256
    char friendlyName[kRecordTextRoom]; // "USB-SERIAL CH340 (COM5)"; empty when unknown
    char maker[kRecordTextRoom];        // "wch.cn"; empty when unknown
    int16_t usb;                        // 1 when the hardware ID names a USB vendor and product
    uint16_t vendorId;
    uint16_t productId;
    int16_t bluetooth; // 1 for a serial port over a Bluetooth link
};

// Reads the IDs of a hardware ID such as "USB\VID_1A86&PID_7523&REV_0254"
// or "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000". False when it names none.
bool ParseUsbIds(const char* hardwareId, uint16_t* vendorId, uint16_t* productId);

// True for the device of a serial port over a Bluetooth link: its hardware
// ID comes from the Bluetooth enumerator ("BTHENUM\{00001101-...}",
// "BTHMODEM\..."), or its friendly name says Bluetooth (as other stacks'
// ports do, in any language). Opening such a port makes a radio connection
// to its partner, which can take seconds.
bool IsBluetoothPort(const char* hardwareId, const char* friendlyName);

// Removes from ports (count entries) those whose device is a Bluetooth
// link, keeping the order of the others; the count left.
int16_t PassOverBluetoothPorts(int16_t* ports, int16_t count);

// Fills records (room for capacity) with the present devices of the ports
// class that name a COM port; the count. A device without a port name is
// passed over; a missing property leaves its field empty.
int16_t ReadPortRecords(PortRecord* records, int16_t capacity);
