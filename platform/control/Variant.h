// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The value that crosses the control boundary: a tagged union in the manner of an automation
// VARIANT, with the types a progress-bar control and its hosts exchange. Conversions follow the
// automation rules: numbers round halves to even, out-of-range numbers overflow, booleans are
// 16-bit -1/0, strings convert when they read as numbers, and nothing else converts.
#pragma once

#include "platform/control/Com.h"

#include <QString>
#include <cstdint>

namespace platform::control {

enum class VarType : std::uint16_t {
    Empty = 0,
    I2 = 2,
    I4 = 3,
    R4 = 4,
    R8 = 5,
    String = 8,
    Bool = 11,
    Object = 13,
};

class Variant {
public:
    Variant() = default;
    static Variant I2(std::int16_t v);
    static Variant I4(std::int32_t v);
    static Variant R4(float v);
    static Variant R8(double v);
    static Variant Bool(bool v);
    static Variant String(const QString& v);
    // Holds a reference to object, which may be null ("Nothing").
    static Variant Object(IUnknown* object);
    // By-reference values: the variant points at the caller's variable.
    static Variant RefI2(std::int16_t* target);
    static Variant RefI4(std::int32_t* target);

    Variant(const Variant& o);
    Variant(Variant&& o) noexcept;
    Variant& operator=(Variant o) noexcept;
    ~Variant();

    VarType Type() const { return type_; }
    bool IsByRef() const { return byRef_; }
    bool IsEmpty() const { return type_ == VarType::Empty; }

    // The value itself; a by-reference variant reads through its pointer.
    Variant Value() const;

    HResult ToI2(std::int16_t* out) const;
    HResult ToI4(std::int32_t* out) const;
    HResult ToR4(float* out) const;
    HResult ToR8(double* out) const;
    HResult ToBool(bool* out) const;
    HResult ToString(QString* out) const;
    // The object's interface iid (a new reference), or TypeMismatch / NoInterface.
    HResult ToObject(const Guid& iid, void** out) const;
    // The object held, without a new reference; null for Nothing and for non-objects.
    IUnknown* ObjectPointer() const { return type_ == VarType::Object ? data_.object : nullptr; }

    // Writes through a by-reference variant, converting to the target's type.
    HResult Assign(const Variant& value) const;

private:
    void release();

    VarType type_ = VarType::Empty;
    bool byRef_ = false;
    union Data {
        std::int16_t i2;
        std::int32_t i4;
        float r4;
        double r8;
        std::int16_t* refI2;
        std::int32_t* refI4;
        IUnknown* object;
    };
    Data data_{};
    QString string_;
};

} // namespace platform::control
