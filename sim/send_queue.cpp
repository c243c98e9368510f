#include "send_queue.h"

#include <cstring>

void ClearSendQueue(SendQueue* queue) {
    queue->first = 0;
    queue->count = 0;
}

bool QueueSegment(SendQueue* queue, const uint8_t* bytes, int32_t length, int64_t dueTicks,
                  int64_t byteTicks) {
    if (queue->count == kQueueSegments || length < 0 || length > kOutputCapacity) {
        return false;
    }
    SendSegment* segment = &queue->segments[(queue->first + queue->count) % kQueueSegments];
    segment->dueTicks = dueTicks;
    segment->byteTicks = byteTicks;
    segment->length = length;
    segment->sent = 0;
    memcpy(segment->bytes, bytes, static_cast<size_t>(length));
    queue->count++;
    return true;
}

SendSegment* FirstSegment(SendQueue* queue) {
    return queue->count == 0 ? nullptr : &queue->segments[queue->first];
}

void DropFirstSegment(SendQueue* queue) {
    if (queue->count == 0) {
        return;
    }
    queue->first = (queue->first + 1) % kQueueSegments;
    queue->count--;
}

int64_t ByteTicks(int32_t baud, int64_t frequency) {
    if (baud <= 0) {
        return 0;
    }
    return (frequency * 10 + baud - 1) / baud;
}

int64_t ModelArrival(int64_t previousArrival, int64_t realArrival, int64_t byteTicks) {
    int64_t earliest = previousArrival + byteTicks;
    return realArrival > earliest ? realArrival : earliest;
}

int64_t NextSendTime(int64_t due, int64_t lineFreeAt, int64_t byteTicks) {
    int64_t start = due > lineFreeAt ? due : lineFreeAt;
    return start + byteTicks;
}
