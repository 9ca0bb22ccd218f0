// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The object model of the control boundary, the least of COM that an in-process control needs
// on a system that has none: 128-bit identities, result codes, reference-counted interfaces
// found through QueryInterface, a class factory, and the four exports of a control library.
// Each module (host or library) links its own copy of this code; only the abstract interfaces
// and Qt value types cross between them, never a C++ object layout or RTTI.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>

namespace platform::control {

using HResult = std::int32_t;

// Result codes, numbered as their COM counterparts so a number in a message means one thing.
namespace hr {
inline constexpr HResult Ok = 0;
inline constexpr HResult False = 1;
inline constexpr HResult NotImplemented = HResult(0x80004001u);
inline constexpr HResult NoInterface = HResult(0x80004002u);
inline constexpr HResult Pointer = HResult(0x80004003u);
inline constexpr HResult Fail = HResult(0x80004005u);
inline constexpr HResult InvalidArgument = HResult(0x80070057u);
inline constexpr HResult MemberNotFound = HResult(0x80020003u);
inline constexpr HResult TypeMismatch = HResult(0x80020005u);
inline constexpr HResult UnknownName = HResult(0x80020006u);
inline constexpr HResult Overflow = HResult(0x8002000Au);
inline constexpr HResult BadParamCount = HResult(0x8002000Eu);
inline constexpr HResult NoAggregation = HResult(0x80040110u);
inline constexpr HResult ClassNotAvailable = HResult(0x80040111u);
inline constexpr HResult ClassNotRegistered = HResult(0x80040154u);
inline constexpr HResult RegistryWrite = HResult(0x80040151u);
inline constexpr HResult SelfRegClass = HResult(0x80040201u);
// Control errors keep the run-time error numbers of the control world (6 overflow,
// 380 invalid property value) in the low word.
inline constexpr HResult ControlOverflow = HResult(0x800A0006u);
inline constexpr HResult InvalidPropertyValue = HResult(0x800A017Cu);
} // namespace hr

constexpr bool Succeeded(HResult r) {
    return r >= 0;
}
constexpr bool Failed(HResult r) {
    return r < 0;
}

// A sentence for a result code, e.g. "invalid property value (0x800A017C)".
QString ErrorText(HResult r);

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
    QString ToString() const;
    // Accepts the form ToString writes, braces optional, any case.
    static std::optional<Guid> FromString(const QString& text);
};

class IUnknown {
public:
    static constexpr Guid Iid{
        0xB66B83B1, 0xAE14, 0x40BC, {0x80, 0xCF, 0x33, 0xB2, 0x47, 0xF3, 0x7F, 0xB2}};
    virtual HResult QueryInterface(const Guid& iid, void** out) = 0;
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

// Owns one reference; the smart pointer both sides use so no reference is ever lost.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference to p.
    explicit ComPtr(T* p)
        : p_(p) {
        if (p_)
            p_->AddRef();
    }
    // Adopts a reference the caller already owns.
    static ComPtr Adopt(T* p) {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    ComPtr(const ComPtr& o)
        : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept
        : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Gives up the reference to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }
    // For out-parameters: releases what is held and returns the slot to fill.
    T** Receive() {
        Reset();
        return &p_;
    }

    template <typename U>
    ComPtr<U> As() const {
        ComPtr<U> out;
        if (p_)
            p_->QueryInterface(U::Iid, reinterpret_cast<void**>(out.Receive()));
        return out;
    }

private:
    T* p_ = nullptr;
};

// Reference counting for an object implemented in this module; keeps the module's count of
// live objects, which DllCanUnloadNow reports.
class RefCount {
public:
    RefCount();
    ~RefCount();
    RefCount(const RefCount&) = delete;
    RefCount& operator=(const RefCount&) = delete;
    std::uint32_t Increment() { return ++count_; }
    std::uint32_t Decrement() { return --count_; }

private:
    std::atomic<std::uint32_t> count_{1};
};

// Live objects plus server locks in this module.
long ModuleObjectCount();
void ModuleLock(bool lock);

class IClassFactory : public IUnknown {
public:
    static constexpr Guid Iid{
        0x3F943FD9, 0x26D7, 0x4051, {0x8B, 0x62, 0xBF, 0xF9, 0x9B, 0x1D, 0xBD, 0xD2}};
    virtual HResult CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
    virtual HResult LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The four C exports of a control library, as the loader and the registration tool find them.
extern "C" {
using DllRegisterServerFn = HResult (*)();
using DllUnregisterServerFn = HResult (*)();
using DllGetClassObjectFn = HResult (*)(const Guid* clsid, const Guid* iid, void** out);
using DllCanUnloadNowFn = HResult (*)();
}

} // namespace platform::control
