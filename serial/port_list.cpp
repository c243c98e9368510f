#include "port_list.h"

int16_t ListPresentPorts(int16_t* ports, int16_t capacity) {
    bool present[kPortSlots] = {};
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS) {
        for (DWORD index = 0;; ++index) {
            char valueName[256];
            DWORD nameSize = sizeof valueName;
            char data[32];
            DWORD dataSize = sizeof data;
            DWORD type = 0;
            LONG status = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
            if (status == ERROR_NO_MORE_ITEMS) {
                break;
            }
            // A value too long for a port name is no port; the ones after it count.
            if (status == ERROR_SUCCESS && type == REG_SZ) {
                present[PortNumberOfName(data, dataSize)] = true;
            }
        }
        RegCloseKey(key);
    }
    int16_t count = 0;
    for (int16_t port = kFirstPort; port <= kLastPort && count < capacity; ++port) {
        if (present[port]) {
            ports[count++] = port;
        }
    }
    return count;
}

int16_t ListPortChoices(int16_t* ports, int16_t capacity) {
    enum : int16_t { kAlwaysOffered = 8 };
    int16_t count = 0;
    for (int16_t port = kFirstPort; port <= kAlwaysOffered && count < capacity; ++port) {
        ports[count++] = port;
    }
    static int16_t present[kPortSlots];
    const int16_t presentCount = ListPresentPorts(present, kPortSlots);
    for (int16_t i = 0; i < presentCount && count < capacity; ++i) {
        if (present[i] > kAlwaysOffered) {
            ports[count++] = present[i];
        }
    }
    return count;
}
