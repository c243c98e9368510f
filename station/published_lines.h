// Texts and lines that one thread publishes and other threads read, without
// a lock: the writer never waits for a reader, whatever the reader is doing
// (a reader stuck in a console write holds nothing the writer needs). A
// reader that meets a write under way tries again.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// A text of up to kRoom bytes (longer ones are cut) with one writer. It is
// held twice: the writer writes the copy that readers are not sent to, then
// sends them to it. A writer stopped in the middle of a write (a port's
// thread pre-empted) leaves the copy that readers read whole, so a reader
// gets the old text or the new one, never a mix, and nobody waits.
class SharedText {
  public:
    enum : size_t { kRoom = 120 };
    // The one writer.
    void Set(const std::string& text);
    // Any reader.
    std::string Get() const;

  private:
    enum : size_t { kWords = kRoom / 8 };
    struct Copy {
        std::atomic<uint32_t> version{0}; // odd while a write is under way
        std::atomic<uint32_t> length{0};
        std::atomic<uint64_t> words[kWords] = {};
    };
    bool Read(const Copy& copy, std::string* text) const;
    Copy copies_[2];
    std::atomic<uint32_t> current_{0}; // the copy readers read
};

// Called in the middle of every SharedText write when set: a test holds the
// writer there, as a pre-empted thread would be held.
extern void (*sharedTextMidWrite)();

// What a line of the display is.
enum LineKind : int {
    kStepLine,          // a port's step under way
    kNoticeLine,        // what a port's technician must know, for the moment
    kLastingNoticeLine, // what a port's technician must know, a line that stays
    kTenthLine,         // a download has passed another tenth of its script
    kDownloadEndLine,   // a download has ended
    kSayLine,           // a line of the station's own
    kAskLine,           // a request to the technician
};

struct DisplayLine {
    LineKind kind = kStepLine;
    int32_t sent = 0; // script bytes sent of size, for the download's lines
    int32_t size = 0;
    std::string text;
};

// The last kSlots lines of one writer, in order. Each reader keeps its own
// place; a reader that falls more than kSlots lines behind loses the oldest
// (the writer overwrites them rather than wait).
class LineRing {
  public:
    enum : uint64_t { kSlots = 128 };
    // The one writer.
    void Push(LineKind kind, const std::string& text, int32_t sent = 0, int32_t size = 0);
    // Any reader: appends the lines from number *next on to lines and moves
    // *next past them. Gives the number of lines lost on the way.
    uint64_t Take(uint64_t* next, std::vector<DisplayLine>* lines) const;
    // Lines pushed so far.
    uint64_t Pushed() const {
        return pushed_.load(std::memory_order_acquire);
    }

  private:
    struct Slot {
        std::atomic<uint64_t> number{0}; // of the line it holds, from 1; 0 while written
        std::atomic<int> kind{0};
        std::atomic<int32_t> sent{0};
        std::atomic<int32_t> size{0};
        SharedText text;
    };
    std::atomic<uint64_t> pushed_{0};
    Slot slots_[kSlots];
};
