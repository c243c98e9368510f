// The module's configuration record as it comes off the line, and its
// write-back: a record that decodes goes back as 0x04, the pairs of the
// values read with the station address alone changed, the checksum line of
// their sum and a line feed, within kRecordWriteRoom.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "profibus_id.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

static int Digit(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        return (c | 0x20) - 'a' + 10;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The run buffer holds the line up to its carriage return, terminated.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t length = strlen(text.c_str());
    int16_t values[kConfigValues];
    int32_t count = -1;
    const int16_t status = DecodeConfigRecord(text.c_str(), values, &count);
    const bool fits =
        length >= kShortestConfigText && length <= kLongestConfigText && length % 2 == 0;
    CHECK(status == (fits ? 0 : 1));
    if (status != 0) {
        CHECK(count == -1); // nothing decoded
        return 0;
    }
    CHECK(count == static_cast<int32_t>(length / 2));
    int16_t read[kConfigValues];
    for (int32_t k = 0; k < count; ++k) {
        CHECK(values[k] == 16 * Digit(text[2 * k]) + Digit(text[2 * k + 1]));
        read[k] = values[k];
    }

    // The new ID, 1 to 127, as the job sets it.
    const int16_t id = static_cast<int16_t>(1 + (size > 0 ? data[size - 1] % 127 : 0));
    values[kStationAddressValue] = id;
    // Exactly the room the job has: a write beyond it is caught.
    std::unique_ptr<uint8_t[]> write(new uint8_t[kRecordWriteRoom]);
    const int32_t written = EncodeRecordWrite(values, count, write.get());
    CHECK(written == 1 + 2 * count + 5 + 1 && written <= kRecordWriteRoom);
    CHECK(write[0] == 0x04);
    uint16_t sum = 0;
    for (int32_t k = 0; k < count; ++k) {
        const uint8_t high = write[1 + 2 * k], low = write[2 + 2 * k];
        CHECK(strchr("0123456789ABCDEF", high) != nullptr && high != 0);
        CHECK(strchr("0123456789ABCDEF", low) != nullptr && low != 0);
        const int value = 16 * Digit(high) + Digit(low);
        CHECK(value == (k == kStationAddressValue ? id : read[k]));
        sum = static_cast<uint16_t>(sum + value);
    }
    char checksum[8];
    snprintf(checksum, sizeof checksum, "\n%04X\n", sum);
    CHECK(memcmp(write.get() + 1 + 2 * count, checksum, 6) == 0);
    return 0;
}
