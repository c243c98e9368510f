#include "support/strict_module.h"

#include "support/peer_port.h"

namespace {

// Characters of the pairs before the first acknowledgement, and between two.
const int32_t kFirstBlockCharacters = 2 * 96;
const int32_t kBlockCharacters = 2 * 128;
// The longest play: a 64 KiB download at full speed takes a few seconds.
const int kLongestPlayMs = 90000;

bool EndsBlock(int32_t characters) {
    return characters >= kFirstBlockCharacters &&
           (characters - kFirstBlockCharacters) % kBlockCharacters == 0;
}

} // namespace

StrictModule::StrictModule(int port, int answerDelayMs)
    : peer_(OpenPeer(port)), answerDelayMs_(answerDelayMs) {}

StrictModule::~StrictModule() {
    over_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (peer_ != INVALID_HANDLE_VALUE) {
        CloseHandle(peer_);
    }
}

void StrictModule::SwitchOn() {
    PeerWrite(peer_, "Korvan V9.99\r\nKonfigmode...\r\n");
    thread_ = std::thread([this] { Play(); });
}

void StrictModule::Answer(const std::string& bytes) {
    PeerWrite(peer_, bytes);
}

void StrictModule::Take(char byte) {
    session_.received.push_back(byte);
    if (ackDue_) {
        if (session_.earlyBytes++ == 0) {
            session_.firstEarlyAt = static_cast<int32_t>(session_.received.size()) - 1;
        }
    }
    switch (state_) {
    case kAwait14:
        if (byte == 0x14) {
            Answer("OK");
            state_ = kAwait10;
        }
        break;
    case kAwait10:
        if (byte == 0x10) {
            Answer(".");
            state_ = kData;
        }
        break;
    case kData:
        if (byte == 0x0A) {
            state_ = kChecksum;
        } else if (EndsBlock(++dataCharacters_)) {
            ackDue_ = true;
            ackIndex_ = dataCharacters_ / 2 - 1;
        }
        break;
    case kChecksum:
        if (++checksumDigits_ == 4) {
            Answer("\rDownload ok.\n");
            state_ = kDone;
        }
        break;
    case kDone:
        break;
    }
}

void StrictModule::Play() {
    const ULONGLONG start = GetTickCount64();
    char chunk[4096];
    while (!over_ && GetTickCount64() - start < kLongestPlayMs) {
        DWORD got = 0;
        if (!ReadFile(peer_, chunk, sizeof chunk, &got, nullptr) || got == 0) {
            if (ackDue_) {
                // The block is whole and nothing more has come: after the
                // pause, whatever came meanwhile is read first (and counted
                // as early), then the answer goes out.
                Sleep(static_cast<DWORD>(answerDelayMs_));
                if (ReadFile(peer_, chunk, sizeof chunk, &got, nullptr) && got > 0) {
                    for (DWORD k = 0; k < got; ++k) {
                        Take(chunk[k]);
                    }
                }
                session_.ackAfter.push_back(ackIndex_);
                ackDue_ = false;
                ++acksSent_;
                Answer(".");
                continue;
            }
            Sleep(1);
            continue;
        }
        for (DWORD k = 0; k < got; ++k) {
            Take(chunk[k]);
        }
    }
}

StrictModule::Session StrictModule::Stop() {
    over_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    return session_;
}
