// RAII owners for the OLE Automation values the Windows build handles: a VARIANT that is
// cleared when it goes, a SAFEARRAY that is destroyed unless released to a new owner, and a
// scoped SafeArrayAccessData lock.
//
// Contract: each object owns what it holds and frees it on the thread that destroys it (the
// object's owner thread). None is copyable. A failed lock reports itself through ok().
#pragma once

// windows.h first: oleauto.h relies on its types.
#include <windows.h>
//
#include <oleauto.h>

#include <utility>

namespace qm {

class TOleVariant {
  public:
    TOleVariant() noexcept { VariantInit(&value_); }
    ~TOleVariant() { VariantClear(&value_); }
    TOleVariant(const TOleVariant&) = delete;
    TOleVariant& operator=(const TOleVariant&) = delete;

    VARIANT& get() noexcept { return value_; }
    const VARIANT& get() const noexcept { return value_; }
    VARIANT* ptr() noexcept { return &value_; }
    VARTYPE vt() const noexcept { return V_VT(&value_); }
    // Hands the value to a caller who will clear it; this object is left empty.
    VARIANT Release() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

  private:
    VARIANT value_;
};

class TSafeArray {
  public:
    explicit TSafeArray(SAFEARRAY* array = nullptr) noexcept : array_(array) {}
    ~TSafeArray() {
        if (array_ != nullptr) {
            SafeArrayDestroy(array_);
        }
    }
    TSafeArray(const TSafeArray&) = delete;
    TSafeArray& operator=(const TSafeArray&) = delete;

    SAFEARRAY* get() const noexcept { return array_; }
    SAFEARRAY* Release() noexcept { return std::exchange(array_, nullptr); }

  private:
    SAFEARRAY* array_;
};

class TSafeArrayLock {
  public:
    explicit TSafeArrayLock(SAFEARRAY* array) noexcept : array_(array) {
        if (array_ == nullptr || FAILED(SafeArrayAccessData(array_, &data_))) {
            array_ = nullptr;
            data_ = nullptr;
        }
    }
    ~TSafeArrayLock() {
        if (array_ != nullptr) {
            SafeArrayUnaccessData(array_);
        }
    }
    TSafeArrayLock(const TSafeArrayLock&) = delete;
    TSafeArrayLock& operator=(const TSafeArrayLock&) = delete;

    bool ok() const noexcept { return array_ != nullptr; }
    void* data() const noexcept { return data_; }

  private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

}  // namespace qm
