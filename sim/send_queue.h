// Output on its way to the wire: the wire-time arithmetic of a paced line, in
// performance-counter ticks (a byte of 8N1 takes 10 bit times), and a fixed
// first-in first-out queue of segments waiting for their time. Segments leave
// in the order they were queued, whatever their due times.
#pragma once

#include <cstdint>

#include "module_machine.h"

// Ticks one byte takes at baud (frequency ticks per second); 0 when baud is 0.
int64_t ByteTicks(int32_t baud, int64_t frequency);

// When a byte received at realArrival could have arrived at the modelled
// rate: never before realArrival, and never less than one byte time after the
// byte before it (previousArrival).
int64_t ModelArrival(int64_t previousArrival, int64_t realArrival, int64_t byteTicks);

// When the next byte of a paced output is fully on the wire: it starts when
// the output is due and the line is free, and takes byteTicks.
int64_t NextSendTime(int64_t due, int64_t lineFreeAt, int64_t byteTicks);

// The previous arrival before any byte: far enough back not to count.
enum : int64_t { kLongAgo = -(int64_t(1) << 60) };

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
