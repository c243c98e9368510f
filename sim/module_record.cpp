#include "module_record.h"

#include <cstring>

#include "module_hex.h"

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
