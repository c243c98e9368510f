#include "log_stamps.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdio>

// A moment of the system's clock in UTC as ISO 8601, to the second.
static std::string UtcTimeText(const SYSTEMTIME& time) {
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth,
             time.wDay, time.wHour, time.wMinute, time.wSecond);
    return text;
}

std::string UtcNowText() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return UtcTimeText(now);
}

std::string Sha256Text(const uint8_t* bytes, size_t count) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR digest[32];
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
                BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    // The data goes in pieces that a ULONG counts.
    for (size_t at = 0; done && at < count;) {
        const ULONG piece = count - at > 0x10000000 ? 0x10000000 : static_cast<ULONG>(count - at);
        done = BCryptHashData(hash, const_cast<PUCHAR>(bytes + at), piece, 0) == 0;
        at += piece;
    }
    done = done && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    if (!done) {
        return "";
    }
    std::string text;
    char pair[3];
    for (UCHAR byte : digest) {
        snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}
