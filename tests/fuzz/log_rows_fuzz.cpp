// The log's rows and header. A module's line, whatever bytes its texts hold,
// reads back (RFC 4180) as the header's number of fields, each the text it
// was given (a formula's with its leading apostrophe), and ends in CR LF. The
// first bytes of a log that a station opens are ours or refused, never cut
// short or read beyond.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "record_lines.h"

namespace {

// An RFC 4180 reader of one line without its CR LF; false when the text is
// not such a line (a quote left open, a bare quote, a line break outside
// quotes).
bool ReadCsv(const std::string& text, std::vector<std::string>* fields) {
    fields->assign(1, "");
    bool quoted = false;
    for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        std::string& field = fields->back();
        if (quoted) {
            if (c == '"' && k + 1 < text.size() && text[k + 1] == '"') {
                field += '"';
                ++k;
            } else if (c == '"') {
                quoted = false;
                if (k + 1 < text.size() && text[k + 1] != ',') {
                    return false;
                }
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty()) {
            quoted = true;
        } else if (c == ',') {
            fields->push_back("");
        } else if (c == '"' || c == '\r' || c == '\n') {
            return false;
        } else {
            field += c;
        }
    }
    return !quoted;
}

std::string Expected(const std::string& text) {
    const bool formula = !text.empty() && text[0] != 0 && strchr("=+-@\t\r", text[0]) != nullptr;
    return formula ? "'" + text : text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> header;
    const std::string headerLine(kModuleLogHeader);
    CHECK(ReadCsv(headerLine.substr(0, headerLine.size() - 2), &header));

    const ModuleLogLine line = RecordOfLines(text);
    const std::string row = CsvLine(line);
    CHECK(row.size() >= 2 && row.compare(row.size() - 2, 2, "\r\n") == 0);
    std::vector<std::string> fields;
    CHECK(ReadCsv(row.substr(0, row.size() - 2), &fields));
    CHECK(fields.size() == header.size());
    const std::string* texts[] = {
        &line.timeUtc, &line.job,    &line.scriptName, &line.scriptSha256, &line.startup,
        &line.outcome, &line.detail, &line.station,    &line.order,        &line.operatorName};
    const size_t columns[] = {0, 2, 3, 5, 8, 10, 11, 13, 14, 15};
    for (size_t k = 0; k < sizeof columns / sizeof columns[0]; ++k) {
        CHECK(fields[columns[k]] == Expected(*texts[k]));
    }
    // A log begun with the earlier header gets the row without the columns
    // that header lacks.
    std::vector<std::string> before, beforeFields;
    const std::string beforeLine(kModuleLogHeaderBefore);
    CHECK(ReadCsv(beforeLine.substr(0, beforeLine.size() - 2), &before));
    const std::string beforeRow = CsvLine(line, true);
    CHECK(ReadCsv(beforeRow.substr(0, beforeRow.size() - 2), &beforeFields));
    CHECK(beforeFields.size() == before.size());
    CHECK(std::vector<std::string>(fields.begin(), fields.begin() + before.size()) == beforeFields);

    // The start of a log file: ours (today's header or the earlier one, with
    // or without the byte-order mark, or empty) is taken, anything else
    // refused with its first line shown shortened.
    const std::string problem = LogHeaderProblem(text);
    std::string body = text.compare(0, 3, kUtf8ByteOrderMark) == 0 ? text.substr(3) : text;
    const bool ours = body.empty() || body.compare(0, headerLine.size(), headerLine) == 0 ||
                      body.compare(0, beforeLine.size(), beforeLine) == 0;
    CHECK(problem.empty() == ours);
    CHECK(problem.size() < 200);
    return 0;
}
