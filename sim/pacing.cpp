#include "pacing.h"

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
