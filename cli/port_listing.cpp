#include "port_listing.h"

#include <cstdio>
#include <vector>

#include "port_list.h"

namespace {

struct Line {
    std::string name, friendlyName, maker, usb;
};

void Pad(std::string* line, const std::string& text, size_t width) {
    *line += text;
    line->append(width - text.size(), ' ');
}

} // namespace

std::string PortListing(const int16_t* present, int16_t presentCount, const PortRecord* records,
                        int16_t recordCount) {
    std::vector<bool> listed(kPortSlots, false);
    for (int16_t i = 0; i < presentCount; ++i) {
        listed[present[i]] = IsPortNumber(present[i]);
    }
    for (int16_t i = 0; i < recordCount; ++i) {
        listed[records[i].port] = IsPortNumber(records[i].port);
    }
    std::vector<Line> lines;
    size_t widths[3] = {0, 0, 0};
    for (int16_t port = kFirstPort; port <= kLastPort; ++port) {
        if (!listed[port]) {
            continue;
        }
        Line line;
        line.name = "COM" + std::to_string(port);
        for (int16_t i = 0; i < recordCount; ++i) {
            if (records[i].port == port) {
                line.friendlyName = records[i].friendlyName;
                line.maker = records[i].maker;
                if (records[i].usb) {
                    char ids[32];
                    snprintf(ids, sizeof ids, "USB %04X:%04X", records[i].vendorId,
                             records[i].productId);
                    line.usb = ids;
                }
            }
        }
        widths[0] = std::max(widths[0], line.name.size());
        widths[1] = std::max(widths[1], line.friendlyName.size());
        widths[2] = std::max(widths[2], line.maker.size());
        lines.push_back(line);
    }
    std::string text;
    for (const Line& line : lines) {
        std::string row;
        Pad(&row, line.name, widths[0]);
        if (widths[1] > 0) {
            Pad(&row, "  " + line.friendlyName, widths[1] + 2);
        }
        if (widths[2] > 0) {
            Pad(&row, "  " + line.maker, widths[2] + 2);
        }
        if (!line.usb.empty()) {
            row += "  " + line.usb;
        }
        row.erase(row.find_last_not_of(' ') + 1);
        text += row + "\n";
    }
    return text;
}

std::string ListPortsNow() {
    static int16_t present[kPortSlots];
    static PortRecord records[kPortSlots];
    const int16_t presentCount = ListPresentPorts(present, kPortSlots);
    const int16_t recordCount = ReadPortRecords(records, kPortSlots);
    return PortListing(present, presentCount, records, recordCount);
}
