#include "byte_range.h"

#include "http_guard.h"

namespace {

ByteRange Whole(uint64_t size) {
    ByteRange range;
    range.count = size;
    return range;
}

} // namespace

ByteRange RangeOf(const std::string* range, uint64_t size) {
    const std::string kUnit = "bytes=";
    if (range == nullptr || range->compare(0, kUnit.size(), kUnit) != 0 ||
        range->find(',') != std::string::npos) {
        return Whole(size);
    }
    const std::string asked = range->substr(kUnit.size());
    const size_t dash = asked.find('-');
    if (dash == std::string::npos) {
        return Whole(size);
    }
    int64_t first = 0, last = 0;
    const std::string firstText = asked.substr(0, dash), lastText = asked.substr(dash + 1);
    const bool hasFirst = ParseSequence(firstText, &first);
    const bool hasLast = ParseSequence(lastText, &last);
    if ((!hasFirst && !firstText.empty()) || (!hasLast && !lastText.empty()) ||
        (!hasFirst && !hasLast) || (hasFirst && hasLast && last < first)) {
        return Whole(size);
    }
    ByteRange part;
    part.status = 206;
    if (!hasFirst) { // the last N bytes
        if (last == 0 || size == 0) {
            part.status = 416;
            return part;
        }
        part.count = static_cast<uint64_t>(last) < size ? static_cast<uint64_t>(last) : size;
        part.first = size - part.count;
        return part;
    }
    if (static_cast<uint64_t>(first) >= size) {
        part.status = 416;
        return part;
    }
    part.first = static_cast<uint64_t>(first);
    const uint64_t end =
        hasLast && static_cast<uint64_t>(last) < size - 1 ? static_cast<uint64_t>(last) + 1 : size;
    part.count = end - part.first;
    return part;
}

std::string ContentRange(const ByteRange& range, uint64_t size) {
    if (range.status == 416) {
        return "bytes */" + std::to_string(size);
    }
    if (range.status != 206) {
        return "";
    }
    return "bytes " + std::to_string(range.first) + "-" +
           std::to_string(range.first + range.count - 1) + "/" + std::to_string(size);
}
