// The storage interface of the configuration.
#pragma once

#include <memory>

#include "config/TarnwickConfig.h"
#include "rtl/Classes.h"

// Loads and saves a whole configuration. Made for one Load or Save and freed
// after it; holds no state between calls but ConfigClass.
class TConfigAdapter : public TObject {
public:
    TConfigAdapter();

    // Writes the configuration to the store; the caller keeps it.
    virtual void Save(const TTarnwickConfig& config);
    // A new configuration of class ConfigClass filled from the store; the
    // caller owns it. Nothing is returned when it raises.
    virtual std::unique_ptr<TTarnwickConfig> Load();

    // The class Load creates; TTarnwickConfig unless the caller sets another
    // before calling Load.
    const TTarnwickConfigClass* ConfigClass;
};
