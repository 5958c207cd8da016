// VariantToJar / JarToVariant over the OLE Automation VARIANT and SAFEARRAY.
// See variant.h for the contract.
//
// A host can hand us any VARIANT at all, so nothing about the array is trusted beyond what
// oleaut32 itself reports: the bounds come from SafeArrayGetLBound/UBound, the amount of data
// from the element size and the element counts of every dimension, and the data pointer from a
// SafeArrayAccessData lock held while the bytes are copied.
#include "core/variant_win32.h"

#include <cstring>

#include "core/variant.h"

namespace qm {

namespace {

// Bytes of data behind the array: element size times the elements of every dimension, or 0
// when that product does not fit the range we ever copy.
std::uint64_t DataBytes(const SAFEARRAY* array) {
    std::uint64_t total = array->cbElements;
    for (USHORT i = 0; i < array->cDims; ++i) {
        const std::uint64_t elements = array->rgsabound[i].cElements;
        if (elements == 0) {
            return 0;
        }
        if (total > (std::uint64_t{1} << 40) / elements) {
            return std::uint64_t{1} << 40;  // more than any jar can hold; only compared against
        }
        total *= elements;
    }
    return total;
}

// The array a variant holds, following one level of VT_BYREF; null when it holds none.
SAFEARRAY* ArrayOf(const VARIANT& variant) {
    const VARIANT* value = &variant;
    // Script hosts pass their variables by reference to a VARIANT.
    if (V_VT(value) == (VT_BYREF | VT_VARIANT)) {
        value = V_VARIANTREF(value);
        if (value == nullptr) {
            return nullptr;
        }
    }
    const VARTYPE type = V_VT(value);
    if ((type & VT_ARRAY) == 0) {
        return nullptr;
    }
    if ((type & VT_BYREF) != 0) {
        SAFEARRAY** reference = V_ARRAYREF(value);
        return reference != nullptr ? *reference : nullptr;
    }
    return V_ARRAY(value);
}

}  // namespace

bool VariantToJar(const VARIANT& variant, TJar& destination) {
    SAFEARRAY* array = ArrayOf(variant);
    if (array == nullptr || SafeArrayGetDim(array) == 0) {
        return false;
    }
    LONG lower = 0;
    LONG upper = 0;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        return false;
    }
    const std::int64_t count = static_cast<std::int64_t>(upper) - lower + 1;
    if (count < 0 || count > kJarMaxLength || static_cast<std::uint64_t>(count) > DataBytes(array)) {
        return false;
    }
    if (count == 0) {
        destination = TJar();
        return true;
    }
    const TSafeArrayLock lock(array);
    if (!lock.ok() || lock.data() == nullptr) {
        return false;
    }
    destination = TJar(lock.data(), static_cast<std::size_t>(count));
    return true;
}

bool JarToVariant(const TJar& jar, VARIANT& destination) {
    TSafeArray array(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(jar.size())));
    if (array.get() == nullptr) {
        return false;
    }
    if (!jar.empty()) {
        const TSafeArrayLock lock(array.get());
        if (!lock.ok()) {
            return false;
        }
        std::memcpy(lock.data(), jar.data(), jar.size());
    }
    VariantClear(&destination);
    V_VT(&destination) = VT_ARRAY | VT_UI1;
    V_ARRAY(&destination) = array.Release();
    return true;
}

}  // namespace qm
