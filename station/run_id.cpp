#include "run_id.h"

#include <windows.h>

#include <bcrypt.h>

bool RandomBytes(unsigned char* bytes, size_t count) {
    return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

std::string NewRunId(const std::string& startedUtc) {
    std::string id;
    for (char c : startedUtc) {
        if (c != '-' && c != ':') {
            id += c;
        }
    }
    unsigned char random[4] = {};
    if (!RandomBytes(random, sizeof random)) {
        // No generator: the tick count and the process tell runs apart.
        const DWORD mixed = GetTickCount() ^ (GetCurrentProcessId() << 16);
        for (int k = 0; k < 4; ++k) {
            random[k] = static_cast<unsigned char>(mixed >> (8 * k));
        }
    }
    static const char kDigits[] = "0123456789abcdef";
    id += '-';
    for (unsigned char byte : random) {
        id += kDigits[byte >> 4];
        id += kDigits[byte & 15];
    }
    return id;
}
