#include "read_buffer.h"

ReadStep StoreReadByte(ReadTarget* target, uint8_t byte) {
    if (target->count == 0 && byte == target->terminator) {
        target->buffer[target->stored] = 0;
        return kReadDone;
    }
    if (target->stored >= target->capacity - 1) {
        target->buffer[target->stored] = 0;
        return kReadFull;
    }
    target->buffer[target->stored++] = byte;
    if (target->count > 0 && target->stored == target->count) {
        target->buffer[target->stored] = 0;
        return kReadDone;
    }
    return kReadGoOn;
}
