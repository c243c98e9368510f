// Wire-time arithmetic of a paced line, in performance-counter ticks: a byte
// of 8N1 takes 10 bit times.
#pragma once

#include <cstdint>

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
