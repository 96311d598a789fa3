// Sends one e-mail message to a list of recipients, directly to each
// recipient domain's mail exchangers or through a relay host, with an
// optional fail-over host; and the address check it applies first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "lib/BWDNSClient.h"
#include "lib/BWLogging.h"
#include "net/BWMailNet.h"
#include "net/BWSmtpWire.h"
#include "rtl/Classes.h"

enum TBWSMTPTransport : std::uint8_t {
    smtDirect = 0,  // MX lookup per recipient domain
    smtHost = 1,    // relay host
};

// Sender, FailedRecipients. The list lives only for the call.
using TBWSendFailedEvent = std::function<void(TObject* Sender, TStringList& FailedRecipients)>;

// True when Address is acceptable as an e-mail address: exactly one at sign,
// a non-empty local part of [a-z0-9_-+%&.] and a non-empty domain of
// non-empty dot-separated labels of [a-z0-9_-], letters A to Z of either case.
// The text is neither changed nor trimmed.
bool IsValidEmailAddress(const std::string& Address);

class TBWSMTPClient : public TObject {
public:
    TBWSMTPClient() = default;
    ~TBWSMTPClient() override;
    TBWSMTPClient(const TBWSMTPClient&) = delete;
    TBWSMTPClient& operator=(const TBWSMTPClient&) = delete;

    TBWDNSClient* DNSClient = nullptr;  // owned; made by GetDNSClient
    TBWSMTPTransport TransportType = smtDirect;
    std::string FailoverHost;
    std::string PrimaryHost;
    TBWLogEvent OnLog;
    TBWSendFailedEvent OnSendFailed;

    // Test seams: the connect time-out of every host attempt and the reply
    // time-outs of its session.
    int ConnectTimeout = 180000;
    TBWSMTPTimeouts Timeouts;

    // Sends by TransportType; False at once for an unknown one. Deletes the
    // invalid entries from Recipients and changes nothing else there.
    // Recipients a host refuses at RCPT are offered to the next host of the
    // list; a recipient fails when every host refused it or failed, and no
    // host is asked again for a recipient another host took. An address too
    // long for SMTP goes to no host. True unless a domain (direct) or the
    // message (relay) failed on every host.
    bool Send(const std::string& From, TStringList& Recipients, const std::string& Subject,
              const std::string& Body, const TStringList* Attachments);
    bool SendDirect(const std::string& From, TStringList& Recipients, const std::string& Subject,
                    const std::string& Body, const TStringList* Attachments);
    bool SendViaHost(const std::string& From, TStringList& Recipients, const std::string& Subject,
                     const std::string& Body, const TStringList* Attachments);

    void GetMailHosts(const std::string& Domain, TStringList& Hosts);
    // The text after the first at sign as written; all of it without one.
    static std::string GetDomain(const std::string& Address);
    TBWDNSClient* GetDNSClient();
    void DoLog(TBWLogLevel Level, int Code, const std::string& Msg);

private:
    // Offers the message to the hosts in turn, each for the recipients the
    // ones before it refused. True when some host took it. left receives the
    // recipients no host took.
    bool Deliver(const TBWMailMessage& message, const TStringList& hosts, bool direct,
                 const std::string& domain, std::vector<std::string>& left);
    // One host attempt for the recipients in remaining; delivered is set,
    // and remaining cut to the refused ones, as soon as the host took it.
    void TryHost(const std::string& host, const std::string& from, const std::string& data,
                 const std::string& failurePrefix, bool direct, const std::string& domain,
                 std::vector<std::string>& remaining, bool& delivered);
    void ValidateRecipients(TStringList& Recipients, TStringList& failed);
    void BuildMessage(TBWMailMessage& message, const std::string& From,
                      const std::string& Subject, const std::string& Body,
                      const TStringList* Attachments);
    void ReportFailed(TStringList& failed);
};
