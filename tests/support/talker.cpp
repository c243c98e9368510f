#include "support/talker.h"

#include "support/peer_port.h"

Talker::Talker(int port, std::vector<std::string> lines, int pauseMs)
    : peer_(OpenPeer(port)), lines_(std::move(lines)), pauseMs_(pauseMs) {}

Talker::~Talker() {
    if (!stopped_) {
        Stop();
    }
}

void Talker::SwitchOn() {
    thread_ = std::thread([this] {
        for (size_t n = 0; !over_; ++n) {
            PeerWrite(peer_, lines_[n % lines_.size()]);
            for (int waited = 0; waited < pauseMs_ && !over_; waited += 10) {
                Sleep(10);
            }
        }
    });
}

std::string Talker::Stop() {
    over_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    std::string received = PeerReadUntilQuiet(peer_, 200);
    CloseHandle(peer_);
    stopped_ = true;
    return received;
}
