// A small descendant of the configuration classes, built the way the service
// derives its runtime classes, to prove that the most-derived class decides
// what the configuration and the store create.
#pragma once

#include <string>

#include "config/TarnwickConfig.h"
#include "rtl/SysUtils.h"

class TDerivedServiceConfig : public TServiceConfig {
public:
    using TServiceConfig::TServiceConfig;
};

class TDerivedProcessConfig : public TProcessConfig {
public:
    TDerivedProcessConfig(const std::string& applicationPath, bool raiseStartupEvent,
                          bool raiseShutdownEvent)
        : TProcessConfig(applicationPath, raiseStartupEvent, raiseShutdownEvent),
          ExeName(LowerCaseAZ(ExtractFileName(ApplicationPath))) {}
    std::string ExeName;
};

class TDerivedServiceConfigList : public TServiceConfigList {
public:
    using TServiceConfigList::TServiceConfigList;
    const TServiceConfigClass* ItemClass() const override {
        return ClassOf<TDerivedServiceConfig>();
    }
    TDerivedServiceConfig* GetItem(int index) const override {
        return CheckedCast<TDerivedServiceConfig>(TServiceConfigList::GetItem(index));
    }
};

class TDerivedProcessConfigList : public TProcessConfigList {
public:
    using TProcessConfigList::TProcessConfigList;
    const TProcessConfigClass* ItemClass() const override {
        return ClassOf<TDerivedProcessConfig>();
    }
    TDerivedProcessConfig* GetItem(int index) const override {
        return CheckedCast<TDerivedProcessConfig>(TProcessConfigList::GetItem(index));
    }
};

class TDerivedConfigClass : public TTarnwickConfigClass {
public:
    const TProcessConfigListClass* ProcessListClass() const override {
        return ClassOf<TDerivedProcessConfigList>();
    }
    const TServiceConfigListClass* ServiceListClass() const override {
        return ClassOf<TDerivedServiceConfigList>();
    }
    std::unique_ptr<TTarnwickConfig> Create() const override;
};

class TDerivedConfig : public TTarnwickConfig {
public:
    static const TTarnwickConfigClass* Class() {
        static const TDerivedConfigClass instance;
        return &instance;
    }
    TDerivedConfig() : TDerivedConfig(*Class()) {}

    // The inherited lists, typed; owned by the inherited members.
    TDerivedServiceConfigList* DerivedServices;
    TDerivedProcessConfigList* DerivedProcesses;

protected:
    explicit TDerivedConfig(const TTarnwickConfigClass& classType)
        : TTarnwickConfig(classType),
          DerivedServices(CheckedCast<TDerivedServiceConfigList>(Services.get())),
          DerivedProcesses(CheckedCast<TDerivedProcessConfigList>(Processes.get())) {}
    friend class TDerivedConfigClass;
};

inline std::unique_ptr<TTarnwickConfig> TDerivedConfigClass::Create() const {
    return std::unique_ptr<TTarnwickConfig>(new TDerivedConfig(*this));
}
