#include "support/played_devices.h"

#include <cstring>
#include <string>

namespace {

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

} // namespace

void PlayDevices(const std::vector<PlayedDevice>& played) {
    devices = played;
    listDestroyed = false;
    portRecordCalls = {PlayGetClassDevs, PlayEnumDeviceInfo, PlayProperty, PlayOpenKey,
                       PlayQueryValue,   PlayCloseKey,       PlayDestroy};
}

void StopPlayingDevices() {
    portRecordCalls = kPlatformPortRecordCalls;
    devices.clear();
}

DWORD PlayedClassFlags() {
    return classFlags;
}

bool PlayedListDestroyed() {
    return listDestroyed;
}
