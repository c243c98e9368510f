#include "published_lines.h"

#include <cstring>
#include <thread>

namespace {

// A reader gives up after this many tries while writes keep coming, and
// takes what it read last: a writer publishes a few times a second at most,
// so this never happens unless the writer was stopped mid-write.
const int kReadTries = 1000;

} // namespace

void SharedText::Set(const std::string& text) {
    const size_t length = text.size() < kRoom ? text.size() : kRoom;
    uint64_t words[kWords] = {};
    memcpy(words, text.data(), length);
    const uint32_t version = version_.load(std::memory_order_relaxed);
    version_.store(version + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    length_.store(static_cast<uint32_t>(length), std::memory_order_relaxed);
    for (size_t k = 0; k < kWords; ++k) {
        words_[k].store(words[k], std::memory_order_relaxed);
    }
    version_.store(version + 2, std::memory_order_release);
}

std::string SharedText::Get() const {
    uint64_t words[kWords];
    uint32_t length = 0;
    for (int tries = 0; tries < kReadTries; ++tries) {
        const uint32_t before = version_.load(std::memory_order_acquire);
        length = length_.load(std::memory_order_relaxed);
        for (size_t k = 0; k < kWords; ++k) {
            words[k] = words_[k].load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && version_.load(std::memory_order_relaxed) == before) {
            break;
        }
        std::this_thread::yield();
    }
    if (length > kRoom) {
        length = kRoom;
    }
    return std::string(reinterpret_cast<const char*>(words), length);
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
