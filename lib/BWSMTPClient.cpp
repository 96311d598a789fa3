#include "BWSMTPClient.h"

#include <memory>

namespace {

const char kLocalPartChars[] = "abcdefghijklmnopqrstuvwxyz0123456789_-+%&.";
const char kDomainLabelChars[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";

bool InSet(char c, const char* set) {
    for (const char* p = set; *p != '\0'; ++p)
        if (*p == c)
            return true;
    return false;
}

std::unique_ptr<TStringList> NewSortedList() {
    std::unique_ptr<TStringList> list(new TStringList);
    list->SetSorted(true);
    list->SetCaseSensitive(false);
    list->SetDuplicates(TDuplicates::dupIgnore);
    return list;
}

}  // namespace

bool IsValidEmailAddress(const std::string& Address) {
    std::size_t first = Address.find('@');
    std::size_t last = Address.rfind('@');
    if (first != last)
        return false;
    std::string local, domain;
    if (first == std::string::npos) {
        domain = LowerCaseAZ(Address);
    } else {
        local = LowerCaseAZ(Address.substr(0, first));
        domain = LowerCaseAZ(Address.substr(first + 1));
    }
    if (local.empty() || domain.empty())
        return false;
    for (char c : local)
        if (!InSet(c, kLocalPartChars))
            return false;
    std::size_t labelLength = 0;
    for (char c : domain) {
        if (c == '.') {
            if (labelLength == 0)
                return false;
            labelLength = 0;
        } else {
            if (!InSet(c, kDomainLabelChars))
                return false;
            ++labelLength;
        }
    }
    return labelLength != 0;
}

TBWSMTPClient::~TBWSMTPClient() {
    delete DNSClient;
}

TBWDNSClient* TBWSMTPClient::GetDNSClient() {
    if (DNSClient == nullptr)
        DNSClient = new TBWDNSClient;
    return DNSClient;
}

void TBWSMTPClient::DoLog(TBWLogLevel Level, int Code, const std::string& Msg) {
    if (OnLog)
        OnLog(this, Level, Code, Msg);
}

std::string TBWSMTPClient::GetDomain(const std::string& Address) {
    std::size_t at = Address.find('@');
    return at == std::string::npos ? Address : Address.substr(at + 1);
}

void TBWSMTPClient::GetMailHosts(const std::string& Domain, TStringList& Hosts) {
    Hosts.Clear();
    switch (TransportType) {
    case smtDirect:
        GetDNSClient()->GetMXRecords(Domain, Hosts);
        if (!FailoverHost.empty())
            Hosts.Add(FailoverHost);
        break;
    case smtHost:
        Hosts.Add(PrimaryHost);
        if (!FailoverHost.empty())
            Hosts.Add(FailoverHost);
        break;
    }
}

bool TBWSMTPClient::Send(const std::string& From, TStringList& Recipients,
                         const std::string& Subject, const std::string& Body,
                         const TStringList* Attachments) {
    switch (TransportType) {
    case smtDirect:
        return SendDirect(From, Recipients, Subject, Body, Attachments);
    case smtHost:
        return SendViaHost(From, Recipients, Subject, Body, Attachments);
    }
    return false;
}

void TBWSMTPClient::ValidateRecipients(TStringList& Recipients, TStringList& failed) {
    for (int i = Recipients.Count() - 1; i >= 0; --i) {
        if (!IsValidEmailAddress(Recipients.Strings(i))) {
            failed.Add(Recipients.Strings(i));
            Recipients.Delete(i);
        }
    }
}

void TBWSMTPClient::BuildMessage(TBWMailMessage& message, const std::string& From,
                                 const std::string& Subject, const std::string& Body,
                                 const TStringList* Attachments) {
    message.From = From;
    message.Subject = Subject;
    if (Attachments != nullptr)
        for (int i = 0; i < Attachments->Count(); ++i)
            message.AddAttachment(Attachments->Strings(i));
    message.Body = Body;
}

namespace {

std::string RefusalText(const std::string& address, const std::string& reply) {
    return "Recipient " + address + " refused: " + reply;
}

}  // namespace

void TBWSMTPClient::TryHost(const std::string& host, const std::string& from,
                            const std::string& data, const std::string& failurePrefix,
                            bool direct, const std::string& domain,
                            std::vector<std::string>& remaining, bool& delivered) {
    std::vector<TBWRefusedRecipient> refused;
    try {
        std::unique_ptr<TBWSMTPConnection> connection(new TBWSMTPConnection);
        connection->Host = host;
        connection->Timeouts = Timeouts;
        DoLog(llInfo, 2, "Connecting to " + host);
        connection->Connect(ConnectTimeout);
        DoLog(llInfo, 3, "Sending via " + host);
        try {
            connection->Send(from, remaining, data);
        } catch (const EBWSMTPRecipientsRefused&) {
            refused = connection->RefusedRecipients();
            throw;
        }
        // The accepted recipients have the message: whatever a log handler
        // does from here on, only the refused ones are left for other hosts.
        delivered = true;
        remaining.clear();
        for (const TBWRefusedRecipient& r : connection->RefusedRecipients())
            remaining.push_back(r.Address);
        for (const TBWRefusedRecipient& r : connection->RefusedRecipients())
            DoLog(llWarning, 5, failurePrefix + RefusalText(r.Address, r.Reply));
        if (direct)
            DoLog(llInfo, 4, "Successfully sent messages for " + domain + " via " + host);
        else
            DoLog(llInfo, 4, "Successfully sent messages for via " + host);
        connection->Disconnect();
    } catch (const EBWSMTPRecipientsRefused&) {
        for (const TBWRefusedRecipient& r : refused)
            DoLog(llWarning, 5, failurePrefix + RefusalText(r.Address, r.Reply));
    } catch (const Exception& e) {
        DoLog(llWarning, 5, failurePrefix + e.Message());
    }
}

bool TBWSMTPClient::Deliver(const TBWMailMessage& message, const TStringList& hosts, bool direct,
                            const std::string& domain, std::vector<std::string>& left) {
    auto prefix = [&](const std::string& host) {
        return direct ? "Unable to send messages for " + domain + " via " + host + ": "
                      : "Unable to send messages via " + host + ": ";
    };
    // An address longer than a path allows would make every server refuse
    // the command, and in the To header a line past RFC 5322's 998
    // characters that makes a server refuse the whole message: it goes to
    // no host and into no header, and the others still get the message.
    std::vector<std::string> tooLong;
    TBWMailMessage sent = message;
    sent.ClearRecipients();
    for (const std::string& r : message.Recipients()) {
        if (r.size() > bwsmtp::kMaxAddressLength)
            tooLong.push_back(r);
        else
            sent.AddRecipient(r);
    }
    // No host is named: none is asked.
    for (const std::string& r : tooLong)
        DoLog(llWarning, 5,
              Format("Unable to send messages to %s: the address is longer than the %d "
                     "characters SMTP allows",
                     r.c_str(), static_cast<int>(bwsmtp::kMaxAddressLength)));

    // What needs no server is checked before any connection is opened; a
    // fault there fails every host in turn.
    std::vector<std::string> remaining = sent.Recipients();
    std::string data, localError;
    try {
        CheckEnvelope(sent.From, remaining);
        data = BuildMailData(sent);
    } catch (const Exception& e) {
        localError = e.Message();
    }

    bool delivered = false;
    if (!remaining.empty() || tooLong.empty()) {
        for (int h = 0; h < hosts.Count(); ++h) {
            if (!localError.empty())
                DoLog(llWarning, 5, prefix(hosts.Strings(h)) + localError);
            else
                TryHost(hosts.Strings(h), sent.From, data, prefix(hosts.Strings(h)), direct,
                        domain, remaining, delivered);
            if (delivered && remaining.empty())
                break;
        }
    }
    left = remaining;
    left.insert(left.end(), tooLong.begin(), tooLong.end());
    return delivered;
}

void TBWSMTPClient::ReportFailed(TStringList& failed) {
    if (failed.Count() > 0 && OnSendFailed)
        OnSendFailed(this, failed);
}

bool TBWSMTPClient::SendDirect(const std::string& From, TStringList& Recipients,
                               const std::string& Subject, const std::string& Body,
                               const TStringList* Attachments) {
    bool result = true;
    std::unique_ptr<TStringList> failed = NewSortedList();
    std::unique_ptr<TStringList> pending = NewSortedList();
    std::unique_ptr<TStringList> group = NewSortedList();
    TStringList hosts;
    TBWMailMessage message;

    ValidateRecipients(Recipients, *failed);
    BuildMessage(message, From, Subject, Body, Attachments);
    for (int i = 0; i < Recipients.Count(); ++i)
        pending->Add(Recipients.Strings(i));

    while (pending->Count() > 0) {
        group->Clear();
        group->Add(pending->Strings(0));
        std::string domain = GetDomain(pending->Strings(0));
        pending->Delete(0);
        // Same domain means the same bytes: domains that differ in case are
        // served as groups of their own.
        for (int i = pending->Count() - 1; i >= 0; --i) {
            if (GetDomain(pending->Strings(i)) == domain) {
                group->Add(pending->Strings(i));
                pending->Delete(i);
            }
        }
        message.ClearRecipients();
        for (int i = 0; i < group->Count(); ++i)
            message.AddRecipient(group->Strings(i));

        DoLog(llInfo, 1, Format("Sending to %d recipients at %s", group->Count(), domain.c_str()));
        hosts.Clear();
        DoLog(llVerbose, 1, "Looking up MX records for " + domain);
        GetMailHosts(domain, hosts);

        std::vector<std::string> left;
        if (!Deliver(message, hosts, true, domain, left)) {
            DoLog(llWarning, 6, "Unable to send to domain " + domain + ". Send via all hosts failed.");
            result = false;
        }
        for (const std::string& r : left)
            failed->Add(r);
    }

    ReportFailed(*failed);
    return result;
}

bool TBWSMTPClient::SendViaHost(const std::string& From, TStringList& Recipients,
                                const std::string& Subject, const std::string& Body,
                                const TStringList* Attachments) {
    bool result = true;
    std::unique_ptr<TStringList> failed = NewSortedList();
    TStringList hosts;
    TBWMailMessage message;

    ValidateRecipients(Recipients, *failed);
    BuildMessage(message, From, Subject, Body, Attachments);
    for (int i = 0; i < Recipients.Count(); ++i)
        message.AddRecipient(Recipients.Strings(i));

    GetMailHosts(std::string(), hosts);
    std::vector<std::string> left;
    if (!Deliver(message, hosts, false, std::string(), left)) {
        DoLog(llError, 6, "Send via all hosts failed.");
        result = false;
    }
    for (const std::string& r : left)
        failed->Add(r);

    ReportFailed(*failed);
    return result;
}
