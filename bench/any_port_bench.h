// The run that finds the module on any port, timed: (f) the delay from the
// banner's last byte to the choice of its port, with every port of a list
// watched; (g) the process's CPU seconds while the same ports stay silent
// for the detection's 10 s.
#pragma once

#include <cstdint>

// Prints (f) and (g) for the ports of watch (count); the banner comes from
// a plain peer on bannerPort, the far end of the cable of one of them. 0
// when both ran; 1 otherwise.
int RunAnyPortBench(const int16_t* watch, int16_t count, int16_t bannerPort);
