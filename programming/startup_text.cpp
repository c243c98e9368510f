#include "startup_text.h"

#include <cstring>

void StartStartupText(StartupText* startup) {
    startup->seen = 0;
}

void AddStartupByte(StartupText* startup, uint8_t byte) {
    if (byte < 0x20 || byte > 0x7E) {
        return;
    }
    if (startup->seen < static_cast<int32_t>(sizeof startup->text) - 1) {
        startup->text[startup->seen] = static_cast<char>(byte);
    }
    if (startup->seen < INT32_MAX) {
        ++startup->seen;
    }
}

void KeepStartupText(const StartupText* startup, bool bannerSeen, char* kept) {
    int32_t count = startup->seen - (bannerSeen ? kBannerLength : 0);
    if (count > kStartupTextLimit) {
        count = kStartupTextLimit;
    }
    if (count < 0) {
        count = 0;
    }
    memcpy(kept, startup->text, static_cast<size_t>(count));
    kept[count] = 0;
}
