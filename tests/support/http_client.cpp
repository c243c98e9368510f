#include "http_client.h"

#include <ws2tcpip.h>

#include <cctype>

namespace {

struct WinsockUse {
    WinsockUse() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

HttpClient::HttpClient() {
    static WinsockUse use;
}

HttpClient::~HttpClient() {
    Close();
}

bool HttpClient::Connect(uint16_t port, int receiveBuffer, const std::string& to) {
    Close();
    ended_ = false;
    pending_.clear();
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) {
        return false;
    }
    if (receiveBuffer > 0) {
        setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof receiveBuffer);
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, to.c_str(), &address.sin_addr) != 1) {
        return false;
    }
    return connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool HttpClient::Send(const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const int sent = send(socket_, bytes.data() + at, static_cast<int>(bytes.size() - at), 0);
        if (sent <= 0) {
            return false;
        }
        at += static_cast<size_t>(sent);
    }
    return true;
}

bool HttpClient::Fill(DWORD ms) {
    if (ended_ || socket_ == INVALID_SOCKET) {
        return false;
    }
    if (paceMs_ > 0) {
        Sleep(paceMs_);
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval wait = {static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &wait) != 1) {
        return false;
    }
    char piece[16384];
    const int got = recv(socket_, piece, sizeof piece, 0);
    if (got <= 0) {
        ended_ = true;
        return false;
    }
    pending_.append(piece, static_cast<size_t>(got));
    return true;
}

namespace {

DWORD Left(ULONGLONG end) {
    const ULONGLONG now = GetTickCount64();
    return now < end ? static_cast<DWORD>(end - now) : 0;
}

} // namespace

bool HttpClient::ReadHead(HttpAnswer* answer, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    size_t headEnd;
    while ((headEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill(Left(end))) {
            return false;
        }
    }
    *answer = HttpAnswer();
    answer->head = pending_.substr(0, headEnd + 2);
    pending_.erase(0, headEnd + 4);
    sscanf(answer->head.c_str(), "HTTP/1.1 %d", &answer->status);
    size_t line = answer->head.find("\r\n") + 2;
    while (line < answer->head.size()) {
        const size_t lineEnd = answer->head.find("\r\n", line);
        const std::string text = answer->head.substr(line, lineEnd - line);
        const size_t colon = text.find(':');
        if (colon != std::string::npos) {
            const size_t value = text.find_first_not_of(' ', colon + 1);
            answer->headers[Lower(text.substr(0, colon))] =
                value == std::string::npos ? "" : text.substr(value);
        }
        line = lineEnd + 2;
    }
    return true;
}

bool HttpClient::Read(HttpAnswer* answer, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    if (!ReadHead(answer, ms)) {
        return false;
    }
    const auto length = answer->headers.find("content-length");
    if (length == answer->headers.end()) {
        while (Fill(Left(end))) {
        }
        answer->body.swap(pending_);
        return true;
    }
    const size_t size = std::stoul(length->second);
    while (pending_.size() < size) {
        if (!Fill(Left(end))) {
            return false;
        }
    }
    answer->body = pending_.substr(0, size);
    pending_.erase(0, size);
    return true;
}

bool HttpClient::NextEvent(StreamEvent* event, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        const size_t blank = pending_.find("\n\n");
        if (blank != std::string::npos) {
            const std::string block = pending_.substr(0, blank + 1);
            pending_.erase(0, blank + 2);
            *event = StreamEvent();
            size_t at = 0;
            while (at < block.size()) {
                const size_t lineEnd = block.find('\n', at);
                const std::string line = block.substr(at, lineEnd - at);
                at = lineEnd + 1;
                if (line.compare(0, 1, ":") == 0) {
                    event->type = ":";
                } else if (line.compare(0, 7, "event: ") == 0) {
                    event->type = line.substr(7);
                } else if (line.compare(0, 4, "id: ") == 0) {
                    event->id = line.substr(4);
                } else if (line.compare(0, 6, "data: ") == 0) {
                    event->data += line.substr(6);
                }
            }
            if (event->type.empty() && event->data.empty()) {
                continue; // "retry:" alone
            }
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end || !Fill(static_cast<DWORD>(end - now))) {
            return false;
        }
    }
}

bool HttpClient::ClosedWithin(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!ended_) {
        const ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return false;
        }
        Fill(static_cast<DWORD>(end - now));
        pending_.clear();
    }
    return true;
}

void HttpClient::Close() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

std::string RequestText(const std::string& method, const std::string& target, uint16_t port,
                        const std::string& headers, const std::string& body) {
    std::string text = method + " " + target +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + headers;
    if (!body.empty() || method == "POST") {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

HttpAnswer Ask(uint16_t port, const std::string& request, const std::string& address) {
    HttpClient client;
    HttpAnswer answer;
    if (client.Connect(port, 0, address) && client.Send(request)) {
        client.Read(&answer);
    }
    return answer;
}
