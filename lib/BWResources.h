// Resources of the module that holds this code (in the service, the service
// program itself); never another module's.
#pragma once

#include <string>

// Finds, loads and locks the resource. The size output is set as soon as the
// resource is found (before the empty check); on a lookup failure it is left
// untouched. The pointer stays valid while the program runs and is never
// freed.
// Raises Exception with the system's text for the last error (see
// SystemErrorText) when the resource is missing, empty, or cannot be loaded
// or locked.
const void* GetResourceData(const char* name, const char* type, int& size);

// The resource's bytes as a string of exactly its size: no code-page
// conversion, zero bytes kept. Errors as GetResourceData.
std::string GetResourceString(const std::string& name, const std::string& type);
