#include "TarnwickConfigAdapter.h"

#include "rtl/SysUtils.h"

TConfigAdapter::TConfigAdapter() : ConfigClass(TTarnwickConfig::Class()) {}

// The storage itself lives in the descendants.
void TConfigAdapter::Save(const TTarnwickConfig&) {
    throw EAbstractError();
}

std::unique_ptr<TTarnwickConfig> TConfigAdapter::Load() {
    throw EAbstractError();
}
