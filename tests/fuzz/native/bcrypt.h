// For the native build of the fuzz targets only: the system's random
// generator, as a run's id asks for it.
#pragma once

#include <random>

#define BCRYPT_USE_SYSTEM_PREFERRED_RNG 2

inline long BCryptGenRandom(void*, unsigned char* bytes, ULONG count, ULONG) {
    std::random_device device;
    for (ULONG k = 0; k < count; ++k) {
        bytes[k] = static_cast<unsigned char>(device());
    }
    return 0;
}
