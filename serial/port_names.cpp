// A port's name read: "COMn", as the registry, the command lines and the
// port records give it. No platform call here.
#include "port_list.h"

int16_t PortNumberOfName(const char* name, DWORD size) {
    if (size < 4 || (name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm' ||
        name[3] == '0') {
        return 0;
    }
    int32_t number = 0;
    DWORD i = 3;
    for (; i < size && name[i] != 0; ++i) {
        if (name[i] < '0' || name[i] > '9' || i > 5) {
            return 0;
        }
        number = number * 10 + (name[i] - '0');
    }
    return i > 3 && number <= kLastPort ? static_cast<int16_t>(number) : 0;
}
