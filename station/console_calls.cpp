#include "console_calls.h"

const ConsoleCalls kPlatformConsoleCalls = {WriteFile, ReadFile};
ConsoleCalls consoleCalls = kPlatformConsoleCalls;
