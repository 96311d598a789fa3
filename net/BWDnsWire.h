// DNS messages as bytes: building one query and parsing its reply (RFC 1035).
// Pure byte-in/result-out code without sockets or windows.h, so it also builds
// for the host, where it is fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bwdns {

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypeCNAME = 5;
constexpr std::uint16_t kTypeMX = 15;
constexpr std::uint16_t kClassIN = 1;

// Longest name on the wire (RFC 1035 2.3.4) and longest label.
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxLabelLength = 63;

// One resource record of the answer section. Name and Exchange are in text
// form; bytes that cannot stand in a host name are written as \DDD and a dot
// inside a label as "\.", so a hostile label can never pass for another name.
struct TDnsRecord {
    std::string Name;
    std::uint16_t Type = 0;
    std::uint16_t Class = 0;
    std::uint32_t TTL = 0;
    // MX only.
    std::uint16_t Preference = 0;
    std::string Exchange;
};

struct TDnsReply {
    std::uint16_t Id = 0;
    bool Authoritative = false;
    bool Truncated = false;
    bool RecursionAvailable = false;
    std::uint8_t RCode = 0;
    std::vector<TDnsRecord> Answers;
};

// Builds a standard query for one name (a trailing dot is allowed) of one
// type in class IN. False with error set, and out empty, when the name cannot
// be encoded: empty, an empty label, a label over 63 bytes, over 255 in all.
bool BuildQuery(std::uint16_t id, const std::string& name, std::uint16_t qtype,
                bool recursionDesired, std::vector<std::uint8_t>& out, std::string& error);

// Parses a reply to the query (id, name, qtype) built above. Checks the id,
// the response bit, the opcode, that the question is the one asked (name
// compared without regard to case), every count against the bytes present and
// every compression pointer (it must point backwards, inside the packet).
// The answer records are returned as they stand; records of any type are kept
// (the caller picks MX). On failure: false, error set, reply left empty. A
// reply with a non-zero RCODE or the TC bit still parses: the caller decides.
bool ParseReply(const std::uint8_t* data, std::size_t size, std::uint16_t id,
                const std::string& qname, std::uint16_t qtype, TDnsReply& reply,
                std::string& error);

}  // namespace bwdns
