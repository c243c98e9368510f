#include "published_lines.h"

#include <chrono>
#include <cstring>
#include <thread>

void (*sharedTextMidWrite)() = nullptr;

namespace {

// A reader tries again while writes keep coming; only a writer that
// completes a write at every one of its tries (which no writer here does:
// they publish a few times a second at most) sends it to sleeping between
// tries, and after that to an empty text rather than a mix.
const int kReadTries = 1000;
const int kSleepingTries = 100;

} // namespace

void SharedText::Set(const std::string& text) {
    const size_t length = text.size() < kRoom ? text.size() : kRoom;
    uint64_t words[kWords] = {};
    memcpy(words, text.data(), length);
    Copy& copy = copies_[1 - current_.load(std::memory_order_relaxed)];
    const uint32_t version = copy.version.load(std::memory_order_relaxed);
    copy.version.store(version + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    copy.length.store(static_cast<uint32_t>(length), std::memory_order_relaxed);
    for (size_t k = 0; k < kWords; ++k) {
        copy.words[k].store(words[k], std::memory_order_relaxed);
        if (k == kWords / 2 && sharedTextMidWrite != nullptr) {
            sharedTextMidWrite();
        }
    }
    copy.version.store(version + 2, std::memory_order_release);
    current_.store(current_.load(std::memory_order_relaxed) ^ 1u, std::memory_order_release);
}

// The copy's text when it was whole all the while it was read.
bool SharedText::Read(const Copy& copy, std::string* text) const {
    uint64_t words[kWords];
    const uint32_t before = copy.version.load(std::memory_order_acquire);
    uint32_t length = copy.length.load(std::memory_order_relaxed);
    for (size_t k = 0; k < kWords; ++k) {
        words[k] = copy.words[k].load(std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    if ((before & 1) != 0 || copy.version.load(std::memory_order_relaxed) != before) {
        return false;
    }
    if (length > kRoom) {
        length = kRoom;
    }
    text->assign(reinterpret_cast<const char*>(words), length);
    return true;
}

std::string SharedText::Get() const {
    std::string text;
    for (int tries = 0; tries < kReadTries + kSleepingTries; ++tries) {
        if (Read(copies_[current_.load(std::memory_order_acquire)], &text)) {
            return text;
        }
        if (tries < kReadTries) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return "";
}

void LineRing::Push(LineKind kind, const std::string& text, int32_t sent, int32_t size) {
    const uint64_t number = pushed_.load(std::memory_order_relaxed) + 1;
    Slot& slot = slots_[number % kSlots];
    slot.number.store(0, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    slot.kind.store(kind, std::memory_order_relaxed);
    slot.sent.store(sent, std::memory_order_relaxed);
    slot.size.store(size, std::memory_order_relaxed);
    slot.text.Set(text);
    slot.number.store(number, std::memory_order_release);
    pushed_.store(number, std::memory_order_release);
}

uint64_t LineRing::Take(uint64_t* next, std::vector<DisplayLine>* lines) const {
    uint64_t lost = 0;
    if (*next == 0) {
        *next = 1;
    }
    const uint64_t last = Pushed();
    // Lines already overwritten are lost without a look.
    if (last >= kSlots && *next < last - kSlots + 1) {
        lost += last - kSlots + 1 - *next;
        *next = last - kSlots + 1;
    }
    for (; *next <= last; ++*next) {
        const Slot& slot = slots_[*next % kSlots];
        if (slot.number.load(std::memory_order_acquire) != *next) {
            ++lost; // overwritten meanwhile by a writer that has moved on
            continue;
        }
        DisplayLine line;
        line.kind = static_cast<LineKind>(slot.kind.load(std::memory_order_relaxed));
        line.sent = slot.sent.load(std::memory_order_relaxed);
        line.size = slot.size.load(std::memory_order_relaxed);
        line.text = slot.text.Get();
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.number.load(std::memory_order_relaxed) != *next) {
            ++lost;
            continue;
        }
        lines->push_back(std::move(line));
    }
    return lost;
}
