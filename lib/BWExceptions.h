// Exception bases of the in-house units.
#pragma once

#include <string>

#include "rtl/SysUtils.h"

// Base of the exceptions the in-house units raise; the message passes to
// Exception unchanged.
class ETracedException : public Exception {
public:
    explicit ETracedException(std::string message);
};

// A fault of the program rather than of its input or its environment.
class ETechnical : public ETracedException {
public:
    using ETracedException::ETracedException;
};
