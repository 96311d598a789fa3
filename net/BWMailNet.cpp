#define _CRT_RAND_S
#include "BWMailNet.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
#include <mutex>

#include "net/BWMimeMessage.h"
#include "net/BWSmtpWire.h"
#include "rtl/Handles.h"

namespace {

void EnsureWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        // A failed start-up shows up as errors of the first socket call.
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

std::string SocketErrorText(int code) {
    std::string text = SysErrorMessage(static_cast<unsigned long>(code));
    return Format("Socket Error # %d\r\n%s", code, text.c_str());
}

// Move-only owner of one socket.
class TSocket {
public:
    TSocket() = default;
    explicit TSocket(SOCKET s) : FSocket(s) {}
    ~TSocket() { Close(); }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    TSocket(TSocket&& other) noexcept : FSocket(other.FSocket) { other.FSocket = INVALID_SOCKET; }
    TSocket& operator=(TSocket&& other) noexcept {
        if (this != &other) {
            Close();
            FSocket = other.FSocket;
            other.FSocket = INVALID_SOCKET;
        }
        return *this;
    }
    SOCKET Get() const { return FSocket; }
    bool Valid() const { return FSocket != INVALID_SOCKET; }
    void Close() {
        if (FSocket != INVALID_SOCKET) {
            int saved = WSAGetLastError();
            closesocket(FSocket);
            WSASetLastError(saved);
            FSocket = INVALID_SOCKET;
        }
    }

private:
    SOCKET FSocket = INVALID_SOCKET;
};

struct TAddrInfo {
    addrinfo* List = nullptr;
    ~TAddrInfo() {
        if (List != nullptr)
            freeaddrinfo(List);
    }
};

template <class E>
void ResolveHost(const std::string& host, unsigned short port, int socktype, TAddrInfo& out) {
    if (host.empty())
        throw E("No host name given");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socktype;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &out.List);
    if (rc != 0 || out.List == nullptr)
        throw E(Format("Cannot resolve host %s: %s", host.c_str(), SocketErrorText(rc).c_str()));
}

// Milliseconds left until a deadline taken from GetTickCount64.
class TDeadline {
public:
    explicit TDeadline(int timeoutMs)
        : FEnd(GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs)) {}
    int Remaining() const {
        ULONGLONG now = GetTickCount64();
        return now >= FEnd ? 0 : static_cast<int>(FEnd - now);
    }

private:
    ULONGLONG FEnd;
};

// select() for one socket. 1 ready, 0 time-out, SOCKET_ERROR on error.
int WaitSocket(SOCKET s, bool forWrite, int timeoutMs) {
    fd_set set, except;
    FD_ZERO(&set);
    FD_ZERO(&except);
    FD_SET(s, &set);
    FD_SET(s, &except);
    timeval tv;
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    int rc = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &except, &tv);
    if (rc > 0 && FD_ISSET(s, &except) && !FD_ISSET(s, &set))
        return SOCKET_ERROR;
    return rc;
}

std::string RandomHex() {
    unsigned int a = 0, b = 0;
    rand_s(&a);
    rand_s(&b);
    return Format("%08X%08X", a, b);
}

std::string DateHeader() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    TIME_ZONE_INFORMATION tz;
    DWORD kind = GetTimeZoneInformation(&tz);
    LONG bias = tz.Bias;
    if (kind == TIME_ZONE_ID_DAYLIGHT)
        bias += tz.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD)
        bias += tz.StandardBias;
    else if (kind == TIME_ZONE_ID_INVALID)
        bias = 0;
    return bwmime::FormatDate(st.wYear, st.wMonth, st.wDay, st.wDayOfWeek, st.wHour, st.wMinute,
                              st.wSecond, -static_cast<int>(bias));
}

// The machine's fully qualified DNS name; empty when it has none.
std::string FullyQualifiedName() {
    char name[256];
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size))
        return std::string();
    return std::string(name, size);
}

std::string ReadAttachment(const std::string& path) {
    TKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD err = GetLastError();
        throw EBWSMTPError(Format("Cannot read attachment %s: %s", path.c_str(),
                                  SysErrorMessage(err).c_str()));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) {
            DWORD err = GetLastError();
            throw EBWSMTPError(Format("Cannot read attachment %s: %s", path.c_str(),
                                      SysErrorMessage(err).c_str()));
        }
        if (got == 0)
            break;
        content.append(buffer, got);
    }
    return content;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of("\\/:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---------------------------------------------------------------------------

struct TBWSMTPConnection::TImpl {
    TSocket Socket;
    bwsmtp::TSmtpReplyReader Reader;
    std::string HeloName;
    std::string Host;

    // Ends the session on a fault of its own and raises it. Where the
    // socket still works (a time-out, a reply we cannot read) the server
    // still gets its QUIT, without a wait for the answer; a broken socket
    // is only closed.
    [[noreturn]] void Drop(const std::string& message, bool sayQuit = false) {
        if (sayQuit && Socket.Valid())
            send(Socket.Get(), "QUIT\r\n", 6, 0);
        Socket.Close();
        throw EBWSMTPError(message);
    }

    void Write(const std::string& data, int timeoutMs) {
        TDeadline deadline(timeoutMs);
        std::size_t sent = 0;
        while (sent < data.size()) {
            int rc = WaitSocket(Socket.Get(), true, deadline.Remaining());
            if (rc == 0)
                Drop("Write timed out.", true);
            if (rc == SOCKET_ERROR)
                Drop(SocketErrorText(WSAGetLastError()));
            int chunk = static_cast<int>(std::min<std::size_t>(data.size() - sent, 65536));
            int n = send(Socket.Get(), data.data() + sent, chunk, 0);
            if (n == SOCKET_ERROR) {
                int err = WSAGetLastError();
                if (err == WSAEWOULDBLOCK)
                    continue;
                Drop(SocketErrorText(err));
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    bwsmtp::TSmtpReply ReadReply(int timeoutMs) {
        TDeadline deadline(timeoutMs);
        for (;;) {
            bwsmtp::TSmtpReply reply;
            std::string error;
            switch (Reader.Take(reply, error)) {
            case bwsmtp::TReadStatus::Reply:
                return reply;
            case bwsmtp::TReadStatus::Error:
                Drop(error, true);
            case bwsmtp::TReadStatus::NeedMore:
                break;
            }
            int rc = WaitSocket(Socket.Get(), false, deadline.Remaining());
            if (rc == 0)
                Drop("Read timed out.", true);
            if (rc == SOCKET_ERROR)
                Drop(SocketErrorText(WSAGetLastError()));
            char buffer[4096];
            int n = recv(Socket.Get(), buffer, sizeof buffer, 0);
            if (n == 0)
                Drop(Reader.HasPartialReply() ? "Connection closed in the middle of a reply."
                                              : "Connection closed gracefully.");
            if (n == SOCKET_ERROR) {
                int err = WSAGetLastError();
                if (err == WSAEWOULDBLOCK)
                    continue;
                Drop(SocketErrorText(err));
            }
            Reader.Append(buffer, static_cast<std::size_t>(n));
        }
    }

    bwsmtp::TSmtpReply Command(const std::string& line, int timeoutMs) {
        Write(line + "\r\n", timeoutMs);
        return ReadReply(timeoutMs);
    }

    // A refusal in a sound session: say goodbye, close, raise the reply.
    template <class E = EBWSMTPError>
    [[noreturn]] void Refused(const bwsmtp::TSmtpReply& reply, int quitTimeoutMs) {
        Quit(quitTimeoutMs);
        throw E(reply.Text());
    }

    void Quit(int timeoutMs) {
        if (!Socket.Valid())
            return;
        try {
            Command("QUIT", timeoutMs);
        } catch (const EBWSMTPError&) {
        }
        Socket.Close();
    }

    void ChooseHeloName() {
        sockaddr_storage local{};
        int len = sizeof local;
        char text[INET6_ADDRSTRLEN] = "127.0.0.1";
        bool ipv6 = false;
        if (getsockname(Socket.Get(), reinterpret_cast<sockaddr*>(&local), &len) == 0) {
            ipv6 = local.ss_family == AF_INET6;
            if (ipv6)
                inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text,
                          sizeof text);
            else
                inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text,
                          sizeof text);
        }
        HeloName = bwsmtp::HeloName(FullyQualifiedName(), text, ipv6);
    }
};

TBWSMTPConnection::TBWSMTPConnection() : FImpl(new TImpl) {
    EnsureWinsock();
}

TBWSMTPConnection::~TBWSMTPConnection() {
    try {
        FImpl->Quit(Timeouts.Quit);
    } catch (...) {
    }
}

bool TBWSMTPConnection::Connected() const {
    return FImpl->Socket.Valid();
}

void TBWSMTPConnection::Connect(int timeoutMs) {
    TImpl& s = *FImpl;
    s.Socket.Close();
    s.Reader.Reset();
    s.Host = Host;
    TAddrInfo addresses;
    ResolveHost<EBWSMTPError>(Host, Port, SOCK_STREAM, addresses);

    TDeadline deadline(timeoutMs);
    std::string lastError = "Connect timed out.";
    for (addrinfo* ai = addresses.List; ai != nullptr; ai = ai->ai_next) {
        TSocket sock(socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol));
        if (!sock.Valid()) {
            lastError = SocketErrorText(WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(sock.Get(), FIONBIO, &nonBlocking);
        if (connect(sock.Get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == SOCKET_ERROR) {
            int err = WSAGetLastError();
            if (err != WSAEWOULDBLOCK) {
                lastError = SocketErrorText(err);
                continue;
            }
            int rc = WaitSocket(sock.Get(), true, deadline.Remaining());
            if (rc == 0) {
                lastError = "Connect timed out.";
                break;
            }
            int soError = 0;
            int len = sizeof soError;
            getsockopt(sock.Get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            if (rc == SOCKET_ERROR || soError != 0) {
                lastError = SocketErrorText(soError != 0 ? soError : WSAGetLastError());
                continue;
            }
        }
        s.Socket = std::move(sock);
        break;
    }
    if (!s.Socket.Valid())
        throw EBWSMTPError(lastError);

    bwsmtp::TSmtpReply reply = s.ReadReply(Timeouts.Greeting);
    if (reply.Code != 220)
        s.Refused(reply, Timeouts.Quit);

    s.ChooseHeloName();
    reply = s.Command("EHLO " + s.HeloName, Timeouts.Command);
    if (reply.Code / 100 == 5) {
        // A server that does not know EHLO (RFC 5321 3.2).
        reply = s.Command("HELO " + s.HeloName, Timeouts.Command);
    }
    if (reply.Code != 250)
        s.Refused(reply, Timeouts.Quit);
}

void CheckEnvelope(const std::string& from, const std::vector<std::string>& recipients) {
    // Addresses go into command lines: a line break in one would smuggle in
    // a command of its own.
    if (!bwsmtp::IsCommandSafe(from) || from.size() > bwsmtp::kMaxAddressLength)
        throw EBWSMTPError("Invalid sender address.");
    if (recipients.empty())
        throw EBWSMTPError("No recipients.");
    for (const std::string& r : recipients)
        if (!bwsmtp::IsCommandSafe(r) || r.empty() || r.size() > bwsmtp::kMaxAddressLength)
            throw EBWSMTPError("Invalid recipient address.");
}

std::string BuildMailData(const TBWMailMessage& message) {
    bwmime::TMimeMessage mime;
    mime.From = message.From;
    mime.To = message.Recipients();
    mime.Subject = message.Subject;
    mime.Body = message.Body;
    for (const std::string& path : message.Attachments())
        mime.Attachments.push_back({BaseName(path), ReadAttachment(path)});
    mime.Date = DateHeader();
    std::string fqdn = FullyQualifiedName();
    std::string idHost = bwsmtp::IsHostName(fqdn) && fqdn.find('.') != std::string::npos
                             ? fqdn
                             : std::string("localhost");
    mime.MessageId = "<" + RandomHex() + "." + RandomHex() + "@" + idHost + ">";
    UINT acp = GetACP();
    mime.Charset = bwmime::CharsetName(acp);
    CPINFO info;
    if (acp != CP_UTF8 && GetCPInfo(acp, &info) && info.MaxCharSize == 2)
        mime.IsLeadByte = [acp](unsigned char c) { return IsDBCSLeadByteEx(acp, c) != FALSE; };
    mime.Boundary = RandomHex();
    return bwmime::DotStuff(bwmime::BuildMessage(mime));
}

void TBWSMTPConnection::Send(const std::string& from, const std::vector<std::string>& envelope,
                             const std::string& data) {
    TImpl& s = *FImpl;
    FRefused.clear();
    if (!s.Socket.Valid())
        throw EBWSMTPError("Not connected.");
    CheckEnvelope(from, envelope);

    bwsmtp::TSmtpReply reply = s.Command("MAIL FROM:<" + from + ">", Timeouts.Command);
    if (reply.Code != 250)
        s.Refused(reply, Timeouts.Quit);

    int accepted = 0;
    bwsmtp::TSmtpReply lastRefusal;
    for (const std::string& r : envelope) {
        reply = s.Command("RCPT TO:<" + r + ">", Timeouts.Command);
        if (reply.Code == 250 || reply.Code == 251) {
            ++accepted;
        } else if (reply.Code == 421) {
            // The server is going away; the session is over.
            FRefused.clear();
            s.Refused(reply, Timeouts.Quit);
        } else {
            FRefused.push_back({r, reply.Text()});
            lastRefusal = reply;
        }
    }
    if (accepted == 0)
        s.Refused<EBWSMTPRecipientsRefused>(lastRefusal, Timeouts.Quit);

    reply = s.Command("DATA", Timeouts.DataInitiation);
    if (reply.Code != 354) {
        FRefused.clear();
        s.Refused(reply, Timeouts.Quit);
    }
    for (std::size_t pos = 0; pos < data.size(); pos += 65536)
        s.Write(data.substr(pos, 65536), Timeouts.DataBlock);
    reply = s.ReadReply(Timeouts.DataTermination);
    if (reply.Code != 250) {
        FRefused.clear();
        s.Refused(reply, Timeouts.Quit);
    }
}

void TBWSMTPConnection::Disconnect() {
    FImpl->Quit(Timeouts.Quit);
}

// ---------------------------------------------------------------------------

struct TBWDNSResolver::TImpl {
    TSocket Socket;
};

TBWDNSResolver::TBWDNSResolver() : FImpl(new TImpl) {
    EnsureWinsock();
}

TBWDNSResolver::~TBWDNSResolver() = default;

void TBWDNSResolver::Activate() {
    FImpl->Socket.Close();
    TAddrInfo addresses;
    ResolveHost<EBWDNSError>(Host, Port, SOCK_DGRAM, addresses);
    std::string lastError = "No address for the DNS server";
    for (addrinfo* ai = addresses.List; ai != nullptr; ai = ai->ai_next) {
        TSocket sock(socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol));
        // A connected UDP socket takes datagrams from the server's address only.
        if (!sock.Valid() ||
            connect(sock.Get(), ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == SOCKET_ERROR) {
            lastError = SocketErrorText(WSAGetLastError());
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(sock.Get(), FIONBIO, &nonBlocking);
        FImpl->Socket = std::move(sock);
        return;
    }
    throw EBWDNSError(lastError);
}

void TBWDNSResolver::Deactivate() {
    FImpl->Socket.Close();
}

std::vector<bwdns::TDnsRecord> TBWDNSResolver::Resolve(const std::string& name) {
    if (!FImpl->Socket.Valid())
        Activate();
    SOCKET s = FImpl->Socket.Get();
    unsigned int random = 0;
    rand_s(&random);
    std::uint16_t id = static_cast<std::uint16_t>(random);
    std::vector<std::uint8_t> query;
    std::string error;
    if (!bwdns::BuildQuery(id, name, QueryType, RecursionDesired, query, error))
        throw EBWDNSError("Cannot query " + name + ": " + error);
    if (send(s, reinterpret_cast<const char*>(query.data()), static_cast<int>(query.size()), 0) ==
        SOCKET_ERROR)
        throw EBWDNSError(SocketErrorText(WSAGetLastError()));

    TDeadline deadline(ReceiveTimeout);
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        int rc = WaitSocket(s, false, deadline.Remaining());
        if (rc == 0)
            throw EBWDNSError(Format("No reply from DNS server %s within %d ms", Host.c_str(),
                                     ReceiveTimeout));
        if (rc == SOCKET_ERROR)
            throw EBWDNSError(SocketErrorText(WSAGetLastError()));
        int n = recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (n == SOCKET_ERROR) {
            int err = WSAGetLastError();
            if (err == WSAEWOULDBLOCK || err == WSAEMSGSIZE)
                continue;
            // WSAECONNRESET here is the ICMP "port unreachable" of the server.
            throw EBWDNSError(SocketErrorText(err));
        }
        bwdns::TDnsReply reply;
        // A datagram that is not the answer to this query (a late answer to
        // an earlier one, a forgery, garbage) is dropped; the wait goes on.
        if (!bwdns::ParseReply(buffer.data(), static_cast<std::size_t>(n), id, name, QueryType,
                               reply, error))
            continue;
        if (reply.Truncated)
            throw EBWDNSError("DNS reply truncated");
        if (reply.RCode != 0)
            throw EBWDNSError(Format("DNS server answered with error code %d", reply.RCode));
        return std::move(reply.Answers);
    }
}
