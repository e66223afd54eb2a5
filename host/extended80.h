// Conversions between the host's doubles and the macOS 80-bit form, done on the bits of the
// double (independently of how the library converts).
#pragma once

#include "protocol.h"

namespace qhost {

Extended80 toExtended(double v);
double fromExtended(const Extended80& x);

} // namespace qhost
