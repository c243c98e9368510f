// A firmware script of any bytes on its way to the module: the stretches
// between acknowledgements cover every byte once, in order, each within one
// write (96 bytes before the first acknowledgement, 128 between two); an
// acknowledgement is awaited after bytes 95, 223, 351, ... and nowhere else;
// the pairs read back as the script, and the checksum line is its byte sum.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "wire_encoding.h"

#define CHECK(condition)                                                                           \
    if (!(condition)) {                                                                            \
        fprintf(stderr, "broken: %s\n", #condition);                                               \
        abort();                                                                                   \
    }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) {
        return 0;
    }
    const int32_t total = static_cast<int32_t>(size);
    uint16_t sum = 0;
    uint32_t plainSum = 0;
    int32_t next = 0;
    for (int32_t first = 0; first < total;) {
        const int32_t last = StretchEnd(first, total);
        CHECK(last >= first && last < total);
        const int32_t count = last - first + 1;
        CHECK(count <= (first == 0 ? kFirstAckIndex + 1 : kAckBlock));
        // Every acknowledgement point inside the script ends a stretch.
        for (int32_t k = first; k < last; ++k) {
            CHECK(!AcknowledgedAfter(k));
        }
        CHECK(AcknowledgedAfter(last) == (last == 95 || (last > 95 && (last - 95) % 128 == 0)));
        std::unique_ptr<uint8_t[]> pairs(new uint8_t[2 * count]);
        FormatHexPairs(data + first, count, pairs.get());
        for (int32_t k = 0; k < count; ++k) {
            const uint8_t high = pairs[2 * k], low = pairs[2 * k + 1];
            CHECK(HexDigit(HexDigitValue(high)) == high && HexDigit(HexDigitValue(low)) == low);
            CHECK(16 * HexDigitValue(high) + HexDigitValue(low) == data[first + k]);
            plainSum += data[first + k];
        }
        sum = AddToSum(sum, data + first, count);
        CHECK(first == next);
        next = last + 1;
        first = last + 1;
    }
    CHECK(next == total);
    CHECK(sum == plainSum % 65536);
    uint8_t line[5];
    FormatChecksumLine(sum, line);
    char plain[8];
    snprintf(plain, sizeof plain, "\n%04X", sum);
    CHECK(memcmp(line, plain, 5) == 0);
    return 0;
}
