#include "module_record.h"

#include <windows.h>

#include <cstring>

int16_t DigitValueOf(uint8_t character) {
    if (character >= '0' && character <= '9') {
        return static_cast<int16_t>(character - '0');
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<int16_t>(character - 'A' + 10);
    }
    if (character >= 'a' && character <= 'f') {
        return static_cast<int16_t>(character - 'a' + 10);
    }
    return -1;
}

void PutHexByte(uint8_t value, bool lowerCase, char* text) {
    const char* digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
    text[0] = digits[value >> 4];
    text[1] = digits[value & 0x0F];
}

bool ReadHexWord(const char* digits, uint16_t* value) {
    uint16_t result = 0;
    for (int i = 0; i < 4; ++i) {
        int16_t digit = DigitValueOf(static_cast<uint8_t>(digits[i]));
        if (digit < 0) {
            *value = 0;
            return false;
        }
        result = static_cast<uint16_t>((result << 4) | digit);
    }
    *value = result;
    return true;
}

static const uint8_t kFactoryRecord[kDefaultRecordCount] = {
    0x4B, 0x56, 0x02, 0x07, 0x0B,
    0x2A, 0x0A, 0x00, 0x20, 0x20,
    0x00, 0x01, 0x00, 0x00, kDefaultStationAddress,
    0x00, 0x10, 0x10, 0x01, 0xF4,
    0x00, 0x64, 0x05, 0xDC, 0x00,
    0x00, 0x12, 0x34, 0x80, 0x01,
    0xA5, 0x5A};

int32_t SetDefaultRecord(uint8_t* record) {
    memcpy(record, kFactoryRecord, sizeof kFactoryRecord);
    return kDefaultRecordCount;
}

int32_t FormatRecordText(const uint8_t* record, int32_t count, char* text, int32_t capacity) {
    if (count < 0 || 2 * count + 1 > capacity) {
        return -1;
    }
    for (int32_t k = 0; k < count; ++k) {
        PutHexByte(record[k], false, text + 2 * k);
    }
    text[2 * count] = 0;
    return 2 * count;
}

int32_t ParseRecordText(const char* text, uint8_t* record, int32_t capacity) {
    int32_t length = 0;
    while (text[length] != 0 && text[length] != '\r' && text[length] != '\n') {
        if (DigitValueOf(static_cast<uint8_t>(text[length])) < 0) {
            return -1;
        }
        length++;
    }
    if (length == 0 || length % 2 != 0 || length / 2 > capacity) {
        return -1;
    }
    for (int32_t k = 0; k < length / 2; ++k) {
        record[k] = static_cast<uint8_t>(16 * DigitValueOf(static_cast<uint8_t>(text[2 * k])) +
                                         DigitValueOf(static_cast<uint8_t>(text[2 * k + 1])));
    }
    return length / 2;
}

int32_t BuildConfigReply(const uint8_t* record, int32_t count, const SimOptions* options,
                         uint8_t* reply, int32_t capacity) {
    // The text, before the line end: the record's digits, cut or padded.
    char text[kSimConfigTextLimit + 2];
    int32_t length = 2 * count;
    if (options->configLength > 0) {
        length = options->configLength;
    }
    if (length > kSimConfigTextLimit) {
        length = kSimConfigTextLimit;
    }
    for (int32_t i = 0; i < length; i += 2) {
        char pair[2] = {'0', '0'};
        if (i / 2 < count) {
            PutHexByte(record[i / 2], options->configLowerCase == 1, pair);
        }
        text[i] = pair[0];
        if (i + 1 < length) {
            text[i + 1] = pair[1];
        }
    }
    if (options->configNonHexAt >= 0 && options->configNonHexAt < length) {
        text[options->configNonHexAt] = 'Z';
    }

    int32_t size = 0;
    for (int32_t i = 0; i <= length && size < capacity; ++i) {
        if (i == options->configZeroAt) {
            reply[size++] = 0;
        }
        if (i < length && size < capacity) {
            reply[size++] = static_cast<uint8_t>(text[i]);
        }
    }
    if (size < capacity) {
        reply[size++] = '\r';
    }
    if (options->configLineFeed == 1 && size < capacity) {
        reply[size++] = '\n';
    }
    return size;
}

enum : int32_t { kStateTextCapacity = 2 * kRecordCapacity + 8 };

int32_t LoadStateFile(const char* fileName, uint8_t* record, int32_t capacity) {
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    char text[kStateTextCapacity];
    DWORD got = 0;
    BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    if (!read) {
        return -1;
    }
    text[got] = 0;
    return ParseRecordText(text, record, capacity);
}

int16_t SaveStateFile(const char* fileName, const uint8_t* record, int32_t count) {
    char text[kStateTextCapacity];
    int32_t length = FormatRecordText(record, count, text, sizeof text - 2);
    if (length < 0) {
        return 1;
    }
    text[length++] = '\r';
    text[length++] = '\n';
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return ok && written == static_cast<DWORD>(length) ? 0 : 1;
}
