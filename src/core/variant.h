// Conversion between a TJar and the host's byte-array value: the automation VARIANT holding a
// SAFEARRAY on Windows, qm::TVariant (include/qmsock/variant.h) elsewhere. THostVariant names
// whichever the platform uses, so the core is written once for both.
//
// Contract:
// - VariantToJar never changes the variant. It answers false (destination untouched) when the
//   value is not an array, or when its data cannot be read safely: no array, no dimensions,
//   inverted or overflowing bounds, fewer bytes of data than the first dimension's element
//   count. Otherwise the first dimension's element count (upper - lower + 1) of bytes is copied
//   from the start of the array's data. On Windows a by-reference value (VT_BYREF to a VARIANT
//   or to an array) is followed one level, as script hosts pass their variables that way.
// - JarToVariant replaces the destination with a new one-dimensional byte array, bounds
//   0 .. N-1 (none when N = 0). It answers false, destination untouched, only when the platform
//   cannot allocate the array.
// - Threads: whatever the variant allows; these functions keep no state. On Windows the caller
//   is on a thread where OLE Automation may be used (the object's owner thread).
#pragma once

#include "core/jar.h"

#if defined(_WIN32)
struct tagVARIANT;
namespace qm {
using THostVariant = ::tagVARIANT;
}
#else
#include "qmsock/variant.h"
namespace qm {
using THostVariant = TVariant;
}
#endif

namespace qm {

bool VariantToJar(const THostVariant& variant, TJar& destination);
bool JarToVariant(const TJar& jar, THostVariant& destination);

}  // namespace qm
