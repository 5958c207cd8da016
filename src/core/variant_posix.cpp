// VariantToJar / JarToVariant over qm::TVariant, for platforms without OLE Automation.
// See variant.h for the contract.
#include "core/variant.h"

namespace qm {

bool VariantToJar(const TVariant& variant, TJar& destination) {
    if (!variant.IsArray()) {
        return false;
    }
    const TByteArray* array = variant.Array();
    if (array == nullptr) {
        return false;
    }
    // The element count of the only dimension, from its bounds, as on the other platform.
    const std::int64_t count = array->UpperBound() - array->LowerBound() + 1;
    if (count < 0 || count > kJarMaxLength || static_cast<std::uint64_t>(count) > array->bytes.size()) {
        return false;
    }
    destination = TJar(array->bytes.data(), static_cast<std::size_t>(count));
    return true;
}

bool JarToVariant(const TJar& jar, TVariant& destination) {
    destination = TVariant(TByteArray{0, jar.Bytes()});
    return true;
}

}  // namespace qm
