// Output waiting for its time: a fixed first-in first-out queue of segments.
// Segments leave in the order they were queued, whatever their due times.
#pragma once

#include <cstdint>

#include "module_machine.h"

enum : int32_t { kQueueSegments = 32 };

struct SendSegment {
    int64_t dueTicks;  // not to start before this performance-counter time
    int64_t byteTicks; // wire time of each byte; 0 sends the segment at once
    int32_t length;
    int32_t sent; // bytes already written
    uint8_t bytes[kOutputCapacity];
};

struct SendQueue {
    SendSegment segments[kQueueSegments];
    int32_t first;
    int32_t count;
};

void ClearSendQueue(SendQueue* queue);

// False (and nothing queued) when all segments are taken or length is too big.
bool QueueSegment(SendQueue* queue, const uint8_t* bytes, int32_t length, int64_t dueTicks,
                  int64_t byteTicks);

// The oldest segment, or nullptr when the queue is empty.
SendSegment* FirstSegment(SendQueue* queue);

void DropFirstSegment(SendQueue* queue);
