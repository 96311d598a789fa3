// A scripted DNS server on one loopback address, UDP port 53, for tests: it
// answers each query with the datagrams a test function makes from it.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using TDnsBytes = std::vector<std::uint8_t>;

struct TMxAnswer {
    std::uint16_t Type;  // 15 MX, other types get 4 bytes of rdata
    std::uint16_t Preference;
    std::string Exchange;
};

// A reply to query: its id and question, RCODE, and the answers, each owned
// by a pointer to the question's name.
inline TDnsBytes MakeDnsReply(const TDnsBytes& query, int rcode,
                              const std::vector<TMxAnswer>& answers) {
    if (query.size() < 12)  // shorter than a header: no id or question to echo
        return {};
    TDnsBytes r = {query[0], query[1], 0x81, static_cast<std::uint8_t>(0x80 | rcode), 0, 1, 0,
                   static_cast<std::uint8_t>(answers.size()), 0, 0, 0, 0};
    r.insert(r.end(), query.begin() + 12, query.end());
    for (const TMxAnswer& a : answers) {
        TDnsBytes rdata;
        if (a.Type == 15) {
            rdata = {static_cast<std::uint8_t>(a.Preference >> 8),
                     static_cast<std::uint8_t>(a.Preference & 0xFF)};
            std::size_t start = 0;
            while (start < a.Exchange.size()) {
                std::size_t dot = a.Exchange.find('.', start);
                if (dot == std::string::npos)
                    dot = a.Exchange.size();
                rdata.push_back(static_cast<std::uint8_t>(dot - start));
                rdata.insert(rdata.end(), a.Exchange.begin() + start, a.Exchange.begin() + dot);
                start = dot + 1;
            }
            rdata.push_back(0);
        } else {
            rdata = {127, 0, 0, 1};
        }
        TDnsBytes rec = {0xC0, 0x0C, static_cast<std::uint8_t>(a.Type >> 8),
                         static_cast<std::uint8_t>(a.Type & 0xFF), 0, 1, 0, 0, 0, 60,
                         static_cast<std::uint8_t>(rdata.size() >> 8),
                         static_cast<std::uint8_t>(rdata.size() & 0xFF)};
        r.insert(r.end(), rec.begin(), rec.end());
        r.insert(r.end(), rdata.begin(), rdata.end());
    }
    return r;
}

class TScriptedDnsServer {
public:
    using TScript = std::function<std::vector<TDnsBytes>(const TDnsBytes& query)>;

    TScriptedDnsServer(const char* address, TScript script) : Address(address), FScript(std::move(script)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, address, &a.sin_addr);
        a.sin_port = htons(53);
        if (bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            BindError = WSAGetLastError();
            return;
        }
        DWORD timeout = 100;
        setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof timeout);
        FThread = std::thread([this] { Run(); });
    }
    ~TScriptedDnsServer() {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        closesocket(FSocket);
    }

    std::string Address;
    int BindError = 0;
    std::atomic<int> Queries{0};
    TDnsBytes LastQuery;

private:
    void Run() {
        std::uint8_t buffer[1500];
        while (!FStop) {
            sockaddr_in from{};
            int len = sizeof from;
            int n = recvfrom(FSocket, reinterpret_cast<char*>(buffer), sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&from), &len);
            if (n <= 12)
                continue;
            TDnsBytes query(buffer, buffer + n);
            LastQuery = query;
            ++Queries;
            for (const TDnsBytes& reply : FScript(query))
                sendto(FSocket, reinterpret_cast<const char*>(reply.data()),
                       static_cast<int>(reply.size()), 0, reinterpret_cast<sockaddr*>(&from), len);
        }
    }

    TScript FScript;
    SOCKET FSocket = INVALID_SOCKET;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
