#include "any_port_texts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

void PortLeftText(PortLeft why, char* text, int32_t room) {
    const unsigned long value = why.value;
    switch (why.kind) {
    case kLeftNotOpened:
        switch (why.value) {
        case 0:
            snprintf(text, room, "not set up for the module's line");
            return;
        case ERROR_SHARING_VIOLATION:
            snprintf(text, room, "in use by another program");
            return;
        case ERROR_ACCESS_DENIED:
            snprintf(text, room, "access denied");
            return;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            snprintf(text, room, "not on this PC");
            return;
        }
        snprintf(text, room, "not opened (error %lu)", value);
        return;
    case kLeftOpenHere:
        snprintf(text, room, "open in this program already");
        return;
    case kLeftBluetooth:
        snprintf(text, room, "a Bluetooth link, passed over");
        return;
    case kLeftFellSilent:
        snprintf(text, room, "silent for %lu s", value);
        return;
    case kLeftTalkedTooLong:
        snprintf(text, room, "%lu bytes without it", value);
        return;
    case kLeftNoBannerInTime:
        snprintf(text, room, "not within %lu s", value);
        return;
    case kLeftInterrupted:
        snprintf(text, room, "cut short");
        return;
    }
    snprintf(text, room, "left");
}

namespace {

bool SameReason(PortLeft a, PortLeft b) {
    return a.kind == b.kind && a.value == b.value;
}

// Appends piece to text (length *used of room); false once it no longer fits.
bool Append(char* text, int32_t room, int32_t* used, const char* piece) {
    const int32_t length = static_cast<int32_t>(strlen(piece));
    if (*used + length >= room) {
        return false;
    }
    memcpy(text + *used, piece, static_cast<size_t>(length) + 1);
    *used += length;
    return true;
}

} // namespace

void DescribePortsLeft(const int16_t* ports, const PortLeft* why, int16_t count, const char* head,
                       char* text, int32_t room) {
    if (room <= 0) {
        return;
    }
    text[0] = 0;
    int32_t used = 0;
    bool fits = Append(text, room, &used, head);
    if (count == 0) {
        fits = fits && Append(text, room, &used, ": no port to try");
    }
    for (int16_t first = 0; fits && first < count; ++first) {
        bool earlier = false;
        for (int16_t k = 0; k < first; ++k) {
            earlier = earlier || SameReason(why[k], why[first]);
        }
        if (earlier) {
            continue; // told with the first port of its reason
        }
        fits = Append(text, room, &used, first == 0 ? ": " : "; ");
        bool firstOfReason = true;
        for (int16_t k = first; fits && k < count; ++k) {
            if (!SameReason(why[k], why[first])) {
                continue;
            }
            char name[16];
            snprintf(name, sizeof name, "%sCOM%d", firstOfReason ? "" : ", ", ports[k]);
            fits = Append(text, room, &used, name);
            firstOfReason = false;
        }
        char reason[64] = " ";
        PortLeftText(why[first], reason + 1, sizeof reason - 1);
        fits = fits && Append(text, room, &used, reason);
    }
    if (!fits && room >= 4) {
        // Cut where it stopped fitting, with a sign that there was more.
        const int32_t end = used + 3 < room ? used : room - 4;
        memcpy(text + end, "...", 4);
    }
}
