// TVariant: the value a host passes where the Windows build takes an automation VARIANT, for
// hosts that have no COM (Linux). It holds empty, null, the scalar types a host may pass, text,
// and a one-dimensional byte array with its lower bound.
//
// Contract:
// - Value semantics: a TVariant owns what it holds; copies are independent.
// - Threads: none shared; one thread at a time per object.
// - Type() answers the same type numbers as the automation VARIANT (VT_...), so the rules that
//   read the type (for example "the array flag is set") are the same on both platforms.
// - Only byte arrays are representable as arrays; their upper bound is lowerBound + count - 1.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qm {

using VarType = std::uint16_t;

inline constexpr VarType kVtEmpty = 0;
inline constexpr VarType kVtNull = 1;
inline constexpr VarType kVtI2 = 2;
inline constexpr VarType kVtI4 = 3;
inline constexpr VarType kVtR8 = 5;
inline constexpr VarType kVtBstr = 8;
inline constexpr VarType kVtBool = 11;
inline constexpr VarType kVtUi1 = 17;
inline constexpr VarType kVtI8 = 20;
inline constexpr VarType kVtArray = 0x2000;

// A one-dimensional byte array with bounds lowerBound .. lowerBound + bytes.size() - 1.
struct TByteArray {
    std::int32_t lowerBound = 0;
    std::vector<std::uint8_t> bytes;

    std::int64_t LowerBound() const noexcept { return lowerBound; }
    std::int64_t UpperBound() const noexcept {
        return static_cast<std::int64_t>(lowerBound) + static_cast<std::int64_t>(bytes.size()) - 1;
    }
    friend bool operator==(const TByteArray&, const TByteArray&) = default;
};

class TVariant {
  public:
    TVariant() noexcept = default;
    explicit TVariant(std::int16_t value) : type_(kVtI2), value_(value) {}
    explicit TVariant(std::int32_t value) : type_(kVtI4), value_(value) {}
    explicit TVariant(std::int64_t value) : type_(kVtI8), value_(value) {}
    explicit TVariant(double value) : type_(kVtR8), value_(value) {}
    explicit TVariant(bool value) : type_(kVtBool), value_(value) {}
    explicit TVariant(std::uint8_t value) : type_(kVtUi1), value_(value) {}
    explicit TVariant(std::u16string text) : type_(kVtBstr), value_(std::move(text)) {}
    explicit TVariant(const char16_t* text) : TVariant(std::u16string(text ? text : u"")) {}
    explicit TVariant(TByteArray array) : type_(kVtArray | kVtUi1), value_(std::move(array)) {}

    static TVariant Null() {
        TVariant v;
        v.type_ = kVtNull;
        return v;
    }

    VarType Type() const noexcept { return type_; }
    bool IsArray() const noexcept { return (type_ & kVtArray) != 0; }

    // The held value when it has type T (std::int32_t, std::u16string, TByteArray, ...), else null.
    template <class T>
    const T* Get() const noexcept {
        return std::get_if<T>(&value_);
    }
    const TByteArray* Array() const noexcept { return Get<TByteArray>(); }

    friend bool operator==(const TVariant&, const TVariant&) = default;

  private:
    VarType type_ = kVtEmpty;
    std::variant<std::monostate, std::int16_t, std::int32_t, std::int64_t, double, bool, std::uint8_t,
                 std::u16string, TByteArray>
        value_;
};

}  // namespace qm
