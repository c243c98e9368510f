#include "sim_options.h"

#include <cstring>

void SetDefaultSimOptions(SimOptions* options) {
    memset(options, 0, sizeof *options);
    options->startupFault = kStartupNormal;
    options->bannerLineEnd = 1;
    options->answer14 = kAnswerNormal;
    strcpy(options->wrongAnswer14, "NO");
    options->answer10 = kAnswerNormal;
    strcpy(options->wrongAnswer10, "?");
    options->ackFault = kAckNormal;
    options->ackDelayMs = 1000;
    options->confirmDelayMs = 0;
    options->wrongAck = '?';
    options->confirmFault = kConfirmNormal;
    strcpy(options->otherConfirmText, "Download OK.");
    options->configNonHexAt = -1;
    options->configZeroAt = -1;
    options->configLineFeed = 1;
    options->initialStationAddress = -1;
}
