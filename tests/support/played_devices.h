// Test support: the Setup API's ports class played through the serial
// layer's table of calls (Wine records no device data for its ports): each
// played device with its port name, friendly name, maker and hardware ID.
#pragma once

#include <windows.h>

#include <vector>

#include "port_records.h"

// One device of the ports class as the played Setup API knows it.
struct PlayedDevice {
    const char* portName; // nullptr: a device without "PortName"
    const char* friendlyName;
    const char* maker;
    const char* hardwareId; // a multi-string: its first string
};

// Plays these devices from now on; StopPlayingDevices gives the platform
// its calls back.
void PlayDevices(const std::vector<PlayedDevice>& devices);
void StopPlayingDevices();

// What the played API was asked: the class's flags, and whether the list
// was destroyed.
DWORD PlayedClassFlags();
bool PlayedListDestroyed();
