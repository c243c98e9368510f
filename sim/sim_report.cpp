#include "sim_report.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct TextSink {
    char* text;
    int32_t capacity;
    int32_t length;
};

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Put(TextSink* sink, const char* format, ...) {
    if (sink->length >= sink->capacity - 1) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(sink->text + sink->length,
                            static_cast<size_t>(sink->capacity - sink->length), format, arguments);
    va_end(arguments);
    if (written > 0) {
        sink->length += written;
        if (sink->length > sink->capacity - 1) {
            sink->length = sink->capacity - 1;
        }
    }
}

// Bytes as text: printable ones as they are, the others as <hh>.
void PutBytes(TextSink* sink, const uint8_t* bytes, int32_t length, int32_t limit) {
    for (int32_t i = 0; i < length && i < limit; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
            Put(sink, "%c", bytes[i]);
        } else {
            Put(sink, "<%02X>", bytes[i]);
        }
    }
    if (length > limit) {
        Put(sink, "... (%d more)", length - limit);
    }
}

void PutValues(TextSink* sink, const uint8_t* values, int32_t count, int32_t limit) {
    for (int32_t i = 0; i < count && i < limit; ++i) {
        Put(sink, "%s%02X", i == 0 ? "" : " ", values[i]);
    }
    if (count > limit) {
        Put(sink, " ... (%d more)", count - limit);
    }
}

const char* YesNo(int16_t flag, const char* yes, const char* no) {
    return flag ? yes : no;
}

void PutDownload(TextSink* sink, const SimReport* r) {
    if (!r->downloadStarted) {
        Put(sink, "  firmware download: none\n");
        return;
    }
    Put(sink, "  firmware download: %d script bytes received, %d bad characters\n",
        r->firmwareByteCount, r->badCharacterCount);
    Put(sink, "    acknowledgements sent: %d", r->ackCount);
    int32_t kept = r->ackCount < kAckRecordCapacity ? r->ackCount : kAckRecordCapacity;
    for (int32_t i = 0; i < kept && i < 12; ++i) {
        Put(sink, "%s%d", i == 0 ? ", after script bytes " : " ", r->ackIndices[i]);
    }
    Put(sink, "%s\n", r->ackCount > 12 ? " ..." : "");
    if (r->faultyAckIndex >= 0) {
        Put(sink, "    acknowledgement fault after script byte %d\n", r->faultyAckIndex);
    }
    if (!r->checksumComplete) {
        Put(sink, "    checksum: not received\n");
        return;
    }
    Put(sink, "    checksum received \"%s\", own sum %04X: %s\n", r->checksumText, r->firmwareSum,
        YesNo(r->checksumMatched, "match", "MISMATCH"));
    Put(sink, "    confirmation sent: ");
    if (r->confirmationLength == 0) {
        Put(sink, "none");
    }
    PutBytes(sink, r->confirmation, r->confirmationLength, kConfirmationCapacity);
    Put(sink, "\n");
}

void PutConfiguration(TextSink* sink, const SimReport* r) {
    Put(sink, "  configuration reads: %d", r->configReadCount);
    if (r->configReadCount > 0) {
        Put(sink, ", last reply (%d bytes): ", r->configSentLength);
        PutBytes(sink, r->configSent, r->configSentLength, 200);
    }
    Put(sink, "\n");
    if (!r->writeBackStarted) {
        Put(sink, "  write-back: none\n");
        return;
    }
    Put(sink, "  write-back: %d values, %d bad characters", r->writeBackCount,
        r->writeBackBadCharacterCount);
    if (r->writeBackComplete) {
        Put(sink, ", checksum received \"%s\", own sum %04X: %s, %s\n", r->writeBackChecksumText,
            r->writeBackSum, YesNo(r->writeBackMatched, "match", "MISMATCH"),
            YesNo(r->writeBackStored, "stored", "not stored"));
    } else {
        Put(sink, ", not completed, not stored\n");
    }
    int32_t kept = r->writeBackCount < kRecordCapacity ? r->writeBackCount : kRecordCapacity;
    Put(sink, "    values: ");
    PutValues(sink, r->writeBackValues, kept, 64);
    Put(sink, "\n");
}

} // namespace

int32_t FormatSimReport(const SimReport* r, char* text, int32_t capacity) {
    if (capacity < 1) {
        return 0;
    }
    TextSink sink = {text, capacity, 0};
    text[0] = 0;
    Put(&sink, "Report of the simulated module\n");
    Put(&sink, "  power-ons: %d, banners sent: %d, module now %s\n", r->powerOnCount,
        r->bannerCount, YesNo(r->poweredOn, "on", "off"));
    Put(&sink, "  handshake bytes received: 0x14: %d, 0x10: %d; other bytes ignored: %d\n",
        r->answer14Count, r->answer10Count, r->ignoredByteCount);
    PutDownload(&sink, r);
    PutConfiguration(&sink, r);
    Put(&sink, "  record (%d values): ", r->recordCount);
    PutValues(&sink, r->record, r->recordCount, 64);
    Put(&sink, "\n  station address: %d\n", r->stationAddress);
    return sink.length;
}

// The event log.

void EmptyEventLog(EventLog* log) {
    log->first = 0;
    log->count = 0;
    log->droppedCount = 0;
}

void AddEvent(EventLog* log, const char* format, ...) {
    if (log->count == kEventLines) {
        log->first = (log->first + 1) % kEventLines;
        log->count--;
        log->droppedCount++;
    }
    char* line = log->lines[(log->first + log->count) % kEventLines];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, kEventLineLength, format, arguments);
    va_end(arguments);
    log->count++;
}

bool TakeEvent(EventLog* log, char* line, int32_t capacity) {
    if (log->count == 0 || capacity < 1) {
        return false;
    }
    snprintf(line, static_cast<size_t>(capacity), "%s", log->lines[log->first]);
    log->first = (log->first + 1) % kEventLines;
    log->count--;
    return true;
}
