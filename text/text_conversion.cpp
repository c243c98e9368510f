#include "text_conversion.h"

#include <cstring>
#include <cwchar>

// Bytes of the 8-bit form of the first count characters; -1 when they do not
// convert.
static int32_t BytesFor(UINT codePage, const WCHAR* text, int32_t count) {
    if (count == 0) {
        return 0;
    }
    int32_t bytes = WideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
    return bytes > 0 ? bytes : -1;
}

// 16-bit characters of the conversion of the first count bytes; -1 when they
// do not convert.
static int32_t CharactersFor(UINT codePage, const char* text, int32_t count) {
    if (count == 0) {
        return 0;
    }
    int32_t characters = MultiByteToWideChar(codePage, 0, text, count, nullptr, 0);
    return characters > 0 ? characters : -1;
}

static bool Fits(int32_t needed, int32_t limit) {
    return needed >= 0 && needed <= limit;
}

void ConvertToCodePage(UINT codePage, const WCHAR* text, char* out, int32_t size) {
    if (size <= 0) {
        return;
    }
    out[0] = 0;
    if (text == nullptr) {
        return;
    }
    const int32_t limit = size - 1;
    const int32_t length = static_cast<int32_t>(wcslen(text));
    // The longest prefix that fits: good is known to fit, bad is known not to.
    int32_t good = 0;
    if (Fits(BytesFor(codePage, text, length), limit)) {
        good = length;
    } else {
        int32_t bad = length;
        while (bad - good > 1) {
            int32_t middle = good + (bad - good) / 2;
            if (Fits(BytesFor(codePage, text, middle), limit)) {
                good = middle;
            } else {
                bad = middle;
            }
        }
        if (good > 0 && IS_HIGH_SURROGATE(text[good - 1]) && IS_LOW_SURROGATE(text[good])) {
            --good;
        }
    }
    int32_t written = 0;
    if (good > 0) {
        written = WideCharToMultiByte(codePage, 0, text, good, out, limit, nullptr, nullptr);
    }
    out[written] = 0;
}

// The largest character boundary of text at or before position.
static int32_t CharacterStart(UINT codePage, const char* text, int32_t length, int32_t position) {
    if (codePage == CP_ACP) {
        codePage = GetACP();
    }
    if (codePage == CP_UTF8) {
        while (position > 0 && position < length &&
               (static_cast<uint8_t>(text[position]) & 0xC0) == 0x80) {
            --position;
        }
        return position;
    }
    CPINFO info;
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 2) {
        return position;
    }
    // Lead and trail bytes overlap in double-byte code pages: walk from the start.
    int32_t start = 0;
    while (start < position) {
        int32_t step = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[start])) ? 2 : 1;
        if (start + step > position) {
            break;
        }
        start += step;
    }
    return start;
}

int32_t ConvertFromCodePage(UINT codePage, const char* text, int32_t textSize, WCHAR* out,
                            int32_t room) {
    if (room <= 0) {
        return 0;
    }
    out[0] = 0;
    if (text == nullptr || textSize <= 0) {
        return 0;
    }
    const int32_t limit = room - 1;
    const int32_t length = static_cast<int32_t>(strnlen(text, textSize));
    const int32_t needed = CharactersFor(codePage, text, length);
    int32_t good = 0;
    if (Fits(needed, limit)) {
        good = length;
    } else {
        int32_t bad = length;
        while (bad - good > 1) {
            int32_t middle = good + (bad - good) / 2;
            if (Fits(CharactersFor(codePage, text, middle), limit)) {
                good = middle;
            } else {
                bad = middle;
            }
        }
        good = CharacterStart(codePage, text, length, good);
    }
    if (good == 0) {
        // An empty text, a cut to nothing for want of room, or a text that
        // does not convert at all.
        return needed < 0 ? 0 : 1;
    }
    int32_t stored = MultiByteToWideChar(codePage, 0, text, good, out, limit);
    out[stored] = 0;
    return stored > 0 ? stored + 1 : 0;
}
