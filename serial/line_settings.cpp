#include "line_settings.h"

static const int32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

int16_t TranslateLineCodes(const PortConfig* config, BYTE* parity, BYTE* stopBits) {
    bool baudKnown = false;
    for (int32_t rate : kBaudRates) {
        baudKnown = baudKnown || config->baudRate == rate;
    }
    if (!baudKnown) {
        return 1;
    }
    switch (config->parityCode) {
    case 0:
        *parity = NOPARITY;
        break;
    case 1:
        *parity = EVENPARITY;
        break;
    case 2:
        *parity = ODDPARITY;
        break;
    case 3:
        *parity = SPACEPARITY;
        break;
    case 4:
    case kParityWakeUp:
        *parity = MARKPARITY;
        break;
    default:
        return 1;
    }
    switch (config->stopBitCode) {
    case 1:
        *stopBits = ONESTOPBIT;
        break;
    case 2:
        *stopBits = TWOSTOPBITS;
        break;
    default:
        return 1;
    }
    return 0;
}

void ApplyLineSettings(DCB* dcb, const PortConfig* config, BYTE parity, BYTE stopBits) {
    dcb->BaudRate = static_cast<DWORD>(config->baudRate);
    dcb->ByteSize = static_cast<BYTE>(config->dataBits & 0xFF);
    dcb->Parity = parity;
    dcb->StopBits = stopBits;
    dcb->fParity = config->parityCheck == 1 ? 1 : 0;
    dcb->fErrorChar = 0;
    dcb->fDtrControl = config->dtrOn == 1 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb->fRtsControl = config->rtsOn == 1 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb->fOutxCtsFlow = 0;
    dcb->fOutxDsrFlow = 0;
    dcb->fDsrSensitivity = 0;
    dcb->fTXContinueOnXoff = 0;
    dcb->fOutX = 0;
    dcb->fInX = 0;
    dcb->XonChar = 17;
    dcb->XoffChar = 19;
    dcb->XonLim = 0;
    dcb->XoffLim = 0;
    dcb->EvtChar = 0;
    // A driver, or a program before us, may have left the port stopping every
    // read and write after a line error until the error is cleared; one glitch
    // of the line (a module switched off and on) would then end the run.
    dcb->fAbortOnError = 0;
}

PortConfig ModuleLineConfig(int16_t portNumber, ByteCallback byteCallback) {
    PortConfig config = {portNumber, 9600, 0, 8, 1, 1, 0, nullptr, byteCallback, nullptr, 1, 0};
    return config;
}
