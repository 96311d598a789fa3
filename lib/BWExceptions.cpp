#include "BWExceptions.h"

#include <utility>

ETracedException::ETracedException(std::string message) : Exception(std::move(message)) {}
