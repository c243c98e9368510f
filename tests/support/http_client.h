// A client of the station's server over plain Winsock, for the tests: it
// sends exactly the bytes a test gives (malformed ones too) and reads the
// answers and the event stream as they come off the wire.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct HttpAnswer {
    int status = 0;                             // 0: no answer
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string head; // as sent
};

// An event of the stream, or a comment (type ":").
struct StreamEvent {
    std::string type;
    std::string id;
    std::string data;
};

class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // receiveBuffer > 0: the socket's receive buffer, set before connecting.
    // address: an IPv4 address of this PC's.
    bool Connect(uint16_t port, int receiveBuffer = 0, const std::string& address = "127.0.0.1");
    bool Send(const std::string& bytes);
    // One answer: its head, and its body by Content-Length (or to the end
    // of the connection without one). False when none came within ms.
    bool Read(HttpAnswer* answer, DWORD ms = 5000);
    // An answer's head alone (an event stream's).
    bool ReadHead(HttpAnswer* answer, DWORD ms = 5000);
    // The stream's next event or comment; false when none came within ms.
    bool NextEvent(StreamEvent* event, DWORD ms = 5000);
    // True when the server closed the connection within ms (what it still
    // sends is read and thrown away).
    bool ClosedWithin(DWORD ms);
    void Close();
    // A slow client: each read of the socket waits ms first.
    void SetPace(DWORD ms) {
        paceMs_ = ms;
    }

  private:
    // Reads what comes within ms into pending_; false at the end or none.
    bool Fill(DWORD ms);
    SOCKET socket_ = INVALID_SOCKET;
    std::string pending_;
    bool ended_ = false;
    DWORD paceMs_ = 0;
};

// A request: "METHOD TARGET HTTP/1.1", Host 127.0.0.1:port, the extra
// header lines given ("Name: value\r\n" each), and the body with its length.
std::string RequestText(const std::string& method, const std::string& target, uint16_t port,
                        const std::string& headers = "", const std::string& body = "");

// Sends request on a connection of its own (to address) and reads the answer.
HttpAnswer Ask(uint16_t port, const std::string& request, const std::string& address = "127.0.0.1");
