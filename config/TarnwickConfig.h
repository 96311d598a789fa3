// The configuration: mail route and sender, recipients, alert and event-log
// switches, start-up delay, last shutdown time, watched services and programs.
//
// A program that needs richer objects derives from these classes, and the
// store creates the derived objects without knowing them. Three hooks serve
// this, each a class reference (rtl/ClassRefs.h) that the most-derived class
// chooses:
//   - TTarnwickConfigClass::ServiceListClass / ProcessListClass: the classes
//     of the configuration's two lists, used while the configuration is being
//     constructed;
//   - TServiceConfigList::ItemClass / TProcessConfigList::ItemClass: the
//     classes of the entries the store creates for a list;
//   - TProcessConfig's constructor, reached through its class reference, so a
//     descendant's own constructor runs for entries the store creates.
//
// A descendant of the configuration brings its own TTarnwickConfigClass
// (overriding the list classes and Create) and passes it to the protected
// constructor, because a constructor cannot call the descendant's overrides:
//
//   class TMyConfigClass : public TTarnwickConfigClass {
//       const TServiceConfigListClass* ServiceListClass() const override {
//           return ClassOf<TMyServiceList>(); }
//       std::unique_ptr<TTarnwickConfig> Create() const override {
//           return std::unique_ptr<TTarnwickConfig>(new TMyConfig(*this)); }
//   };
//   class TMyConfig : public TTarnwickConfig {
//   public:
//       static const TTarnwickConfigClass* Class();   // a TMyConfigClass
//       TMyConfig() : TMyConfig(*Class()) {}
//   protected:
//       explicit TMyConfig(const TTarnwickConfigClass& c) : TTarnwickConfig(c) {
//           MyServices = CheckedCast<TMyServiceList>(Services.get()); }
//       friend class TMyConfigClass;
//   };
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "lib/BWList.h"
#include "rtl/ClassRefs.h"
#include "rtl/Classes.h"
#include "rtl/DateUtils.h"

enum TSMTPTransportType : std::uint8_t {
    ttDirect = 0,  // to each recipient domain's mail exchangers (MX lookup)
    ttHost = 1,    // to the relay host PrimarySMTPHost
};

class TServiceConfig;
class TProcessConfig;
class TServiceConfigList;
class TProcessConfigList;
class TTarnwickConfig;
class TBWSMTPClient;

// Creates a service entry of the named class with TServiceConfig's
// constructor (a descendant adds no state of its own to initialise).
using TServiceConfigClass = TClassRef<TServiceConfig, const std::string&, bool, bool, bool>;
// Creates a program entry of the named class through that class's own
// constructor with (ApplicationPath, RaiseStartupEvent, RaiseShutdownEvent).
using TProcessConfigClass = TClassRef<TProcessConfig, const std::string&, bool, bool>;
// Create(ownsObjects) makes an empty list of the named class.
using TServiceConfigListClass = TClassRef<TServiceConfigList, bool>;
using TProcessConfigListClass = TClassRef<TProcessConfigList, bool>;

// One watched Windows service.
class TServiceConfig : public TObject {
public:
    using TClass = TServiceConfigClass;
    TServiceConfig(const std::string& serviceName, bool raiseStartupEvent, bool raiseShutdownEvent,
                   bool onlyShutdownFailureEvent);

    std::string ServiceName;  // key name in the service control manager
    bool RaiseStartupEvent;   // mail when the service starts
    bool RaiseShutdownEvent;  // mail when it stops
    // Mail about a stop only when the service stopped with a nonzero exit code.
    bool OnlyShutdownFailureEvent;
};

// One watched program. Its constructor is the one a descendant replaces: the
// store creates entries through TProcessConfigList::ItemClass, so the
// descendant's constructor (which first runs this one) sets up its own fields.
class TProcessConfig : public TObject {
public:
    using TClass = TProcessConfigClass;
    TProcessConfig(const std::string& applicationPath, bool raiseStartupEvent,
                   bool raiseShutdownEvent);

    std::string ApplicationPath;  // full path of the executable
    bool RaiseStartupEvent;
    bool RaiseShutdownEvent;
};

// Typed list of service entries. The configuration creates it owning.
class TServiceConfigList : public TBWList {
public:
    using TClass = TServiceConfigListClass;
    explicit TServiceConfigList(bool ownsObjects) : TBWList(ownsObjects) {}

    // Appends; an owning list takes ownership. Returns the new index.
    int Add(TServiceConfig* item) { return TBWList::Add(item); }
    // The list's index errors apply; an item of another class raises EInvalidCast.
    TServiceConfig* GetItem(int index) const override;
    // The class of the entries the store creates for this list.
    virtual const TServiceConfigClass* ItemClass() const;
    // First entry whose ServiceName equals name after both are lower-cased in
    // the letters A to Z only, then compared byte for byte; -1 when none.
    int IndexOfName(const std::string& name) const;
};

// Typed list of program entries. The configuration creates it owning.
class TProcessConfigList : public TBWList {
public:
    using TClass = TProcessConfigListClass;
    explicit TProcessConfigList(bool ownsObjects) : TBWList(ownsObjects) {}

    int Add(TProcessConfig* item) { return TBWList::Add(item); }
    TProcessConfig* GetItem(int index) const override;
    virtual const TProcessConfigClass* ItemClass() const;
    // As IndexOfName, on ApplicationPath: no trimming, no path normalisation.
    int IndexOfPath(const std::string& path) const;
};

// The class reference of a configuration class: its two list classes and its
// constructor. Compared by address; one instance per class.
class TTarnwickConfigClass {
public:
    TTarnwickConfigClass() = default;
    TTarnwickConfigClass(const TTarnwickConfigClass&) = delete;
    TTarnwickConfigClass& operator=(const TTarnwickConfigClass&) = delete;
    virtual ~TTarnwickConfigClass() = default;

    virtual const TProcessConfigListClass* ProcessListClass() const;  // TProcessConfigList
    virtual const TServiceConfigListClass* ServiceListClass() const;  // TServiceConfigList
    // A new configuration of this class with the defaults; the caller owns it.
    virtual std::unique_ptr<TTarnwickConfig> Create() const;
};

// The whole configuration. Owns its recipient list and its two lists, which
// own their entries.
class TTarnwickConfig : public TObject {
public:
    // A configuration of class TTarnwickConfig with the defaults.
    TTarnwickConfig();
    // Frees Services (and its entries), then Processes, then EmailAddresses.
    ~TTarnwickConfig() override;
    TTarnwickConfig(const TTarnwickConfig&) = delete;
    TTarnwickConfig& operator=(const TTarnwickConfig&) = delete;

    static const TTarnwickConfigClass* Class();
    // The class this object was constructed as.
    const TTarnwickConfigClass& ClassType() const { return *FClassType; }
    const TProcessConfigListClass* ProcessListClass() const {
        return FClassType->ProcessListClass();
    }
    const TServiceConfigListClass* ServiceListClass() const {
        return FClassType->ServiceListClass();
    }

    // Sorted by the user locale's case-insensitive comparison; an address
    // equal to a listed one under it is ignored, the listed one kept.
    std::unique_ptr<TStringList> EmailAddresses;
    std::unique_ptr<TServiceConfigList> Services;   // of the class ServiceListClass names
    std::unique_ptr<TProcessConfigList> Processes;  // of the class ProcessListClass names
    TSMTPTransportType PrimarySMTPTransportType = ttDirect;
    std::string PrimarySMTPHost;
    bool UseFailoverSMTPHost = false;
    std::string FailoverSMTPHost;
    std::string FromEmail;
    bool WriteAlertsToEventLog = false;
    bool ServiceStartupEvent = false;
    bool ServiceShutdownEvent = false;
    bool ProcessStartupEvent = false;
    bool ProcessTerminationEvent = false;
    bool TarnwickStartupEvent = false;
    bool TarnwickShutdownEvent = false;
    TDateTime LastShutdownTime = 0;   // written only by the service
    std::int32_t StartupWaitPeriod = 0;  // seconds after a boot
    bool RaiseStartupEvent = false;
    bool RaiseShutdownEvent = false;
    bool RaiseWindowsShutdownEvent = false;

protected:
    // Constructs the object as one of class classType: the lists are created
    // through classType's list classes. A descendant passes its own class.
    explicit TTarnwickConfig(const TTarnwickConfigClass& classType);
    friend class TTarnwickConfigClass;

private:
    const TTarnwickConfigClass* FClassType;
};

// Sets the client's transport (an unknown one leaves the client's own), relay
// host and fail-over host, this one whatever UseFailoverSMTPHost says: a
// stored fail-over host is always tried.
void ApplySMTPRoute(const TTarnwickConfig& Config, TBWSMTPClient& Client);
