#include "log_rows.h"

#include <bcrypt.h>

#include <cstdio>
#include <cstring>

const char kModuleLogHeader[] =
    "time_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,new_profibus_id,"
    "startup_output,exit_status,outcome,detail,seconds,station,order,operator\r\n";
const char kModuleLogHeaderBefore[] =
    "time_utc,port,job,script,script_bytes,script_sha256,old_profibus_id,new_profibus_id,"
    "startup_output,exit_status,outcome,detail,seconds\r\n";
const char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

std::string CsvField(const std::string& field) {
    const bool formula = !field.empty() && field[0] != 0 && strchr("=+-@\t\r", field[0]) != nullptr;
    const std::string text = formula ? "'" + field : field;
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

namespace {

std::string NumberOrEmpty(int64_t value) {
    return value < 0 ? std::string() : std::to_string(value);
}

} // namespace

std::string CsvLine(const ModuleLogLine& line, bool before) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.1f", line.seconds);
    const std::string fields[] = {line.timeUtc,
                                  line.port > 0 ? "COM" + std::to_string(line.port) : "auto",
                                  line.job,
                                  line.scriptName,
                                  NumberOrEmpty(line.scriptSize),
                                  line.scriptSha256,
                                  NumberOrEmpty(line.oldProfibusId),
                                  NumberOrEmpty(line.newProfibusId),
                                  line.startup,
                                  std::to_string(line.exitStatus),
                                  line.outcome,
                                  line.detail,
                                  seconds,
                                  line.station,
                                  line.order,
                                  line.operatorName};
    // The earlier header ends with seconds.
    const size_t count = before ? 13 : sizeof fields / sizeof fields[0];
    std::string text;
    for (size_t k = 0; k < count; ++k) {
        text += (k == 0 ? "" : ",") + CsvField(fields[k]);
    }
    return text + "\r\n";
}

std::string UtcTimeText(const SYSTEMTIME& time) {
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth,
             time.wDay, time.wHour, time.wMinute, time.wSecond);
    return text;
}

std::string UtcNowText() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return UtcTimeText(now);
}

std::string Sha256Text(const uint8_t* bytes, size_t count) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    UCHAR digest[32];
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
                BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
    // The data goes in pieces that a ULONG counts.
    for (size_t at = 0; done && at < count;) {
        const ULONG piece = count - at > 0x10000000 ? 0x10000000 : static_cast<ULONG>(count - at);
        done = BCryptHashData(hash, const_cast<PUCHAR>(bytes + at), piece, 0) == 0;
        at += piece;
    }
    done = done && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    if (!done) {
        return "";
    }
    std::string text;
    char pair[3];
    for (UCHAR byte : digest) {
        snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

namespace {

std::string WithoutByteOrderMark(const std::string& start) {
    return start.compare(0, 3, kUtf8ByteOrderMark) == 0 ? start.substr(3) : start;
}

bool BeginsWith(const std::string& text, const char* header) {
    return text.compare(0, strlen(header), header) == 0;
}

} // namespace

bool HasHeaderBefore(const std::string& start) {
    return BeginsWith(WithoutByteOrderMark(start), kModuleLogHeaderBefore);
}

std::string LogHeaderProblem(const std::string& start) {
    const std::string text = WithoutByteOrderMark(start);
    if (text.empty() || BeginsWith(text, kModuleLogHeader) ||
        BeginsWith(text, kModuleLogHeaderBefore)) {
        return "";
    }
    const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
    return "its first line is not this program's header: \"" + firstLine.substr(0, 80) +
           (firstLine.size() > 80 ? "...\"" : "\"");
}
