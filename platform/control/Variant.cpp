// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/Variant.h"

#include "platform/Rounding.h"

#include <cmath>
#include <limits>

namespace platform::control {

Variant Variant::I2(std::int16_t v) {
    Variant r;
    r.type_ = VarType::I2;
    r.data_.i2 = v;
    return r;
}

Variant Variant::I4(std::int32_t v) {
    Variant r;
    r.type_ = VarType::I4;
    r.data_.i4 = v;
    return r;
}

Variant Variant::R4(float v) {
    Variant r;
    r.type_ = VarType::R4;
    r.data_.r4 = v;
    return r;
}

Variant Variant::R8(double v) {
    Variant r;
    r.type_ = VarType::R8;
    r.data_.r8 = v;
    return r;
}

Variant Variant::Bool(bool v) {
    Variant r;
    r.type_ = VarType::Bool;
    r.data_.i2 = v ? -1 : 0;
    return r;
}

Variant Variant::String(const QString& v) {
    Variant r;
    r.type_ = VarType::String;
    r.string_ = v;
    return r;
}

Variant Variant::Object(IUnknown* object) {
    Variant r;
    r.type_ = VarType::Object;
    r.data_.object = object;
    if (object)
        object->AddRef();
    return r;
}

Variant Variant::RefI2(std::int16_t* target) {
    Variant r;
    r.type_ = VarType::I2;
    r.byRef_ = true;
    r.data_.refI2 = target;
    return r;
}

Variant Variant::RefI4(std::int32_t* target) {
    Variant r;
    r.type_ = VarType::I4;
    r.byRef_ = true;
    r.data_.refI4 = target;
    return r;
}

Variant::Variant(const Variant& o)
    : type_(o.type_)
    , byRef_(o.byRef_)
    , data_(o.data_)
    , string_(o.string_) {
    if (IUnknown* object = ObjectPointer())
        object->AddRef();
}

Variant::Variant(Variant&& o) noexcept
    : type_(std::exchange(o.type_, VarType::Empty))
    , byRef_(std::exchange(o.byRef_, false))
    , data_(std::exchange(o.data_, Data{}))
    , string_(std::move(o.string_)) {
}

Variant& Variant::operator=(Variant o) noexcept {
    std::swap(type_, o.type_);
    std::swap(byRef_, o.byRef_);
    std::swap(data_, o.data_);
    std::swap(string_, o.string_);
    return *this;
}

Variant::~Variant() {
    release();
}

void Variant::release() {
    if (IUnknown* object = ObjectPointer())
        object->Release();
}

Variant Variant::Value() const {
    if (!byRef_)
        return *this;
    if (type_ == VarType::I2)
        return data_.refI2 ? I2(*data_.refI2) : Variant();
    return data_.refI4 ? I4(*data_.refI4) : Variant();
}

namespace {

// The number a variant stands for, the way automation converts to a number.
HResult asDouble(const Variant& v, double* out) {
    switch (v.Type()) {
    case VarType::Empty:
        *out = 0;
        return hr::Ok;
    case VarType::String: {
        bool ok = false;
        QString text;
        v.ToString(&text);
        const double d = text.trimmed().toDouble(&ok);
        if (!ok)
            return hr::TypeMismatch;
        *out = d;
        return hr::Ok;
    }
    case VarType::Object:
        return hr::TypeMismatch;
    default:
        return v.ToR8(out);
    }
}

template <typename T>
HResult toInteger(const Variant& v, T* out) {
    double d = 0;
    if (const HResult r = asDouble(v, &d); Failed(r))
        return r;
    const std::optional<T> n = RoundToInt<T>(d);
    if (!n)
        return hr::Overflow;
    *out = *n;
    return hr::Ok;
}

} // namespace

HResult Variant::ToR8(double* out) const {
    if (byRef_)
        return Value().ToR8(out);
    switch (type_) {
    case VarType::I2:
    case VarType::Bool:
        *out = data_.i2;
        return hr::Ok;
    case VarType::I4:
        *out = data_.i4;
        return hr::Ok;
    case VarType::R4:
        *out = data_.r4;
        return hr::Ok;
    case VarType::R8:
        *out = data_.r8;
        return hr::Ok;
    default:
        return asDouble(*this, out);
    }
}

HResult Variant::ToI2(std::int16_t* out) const {
    return toInteger(Value(), out);
}

HResult Variant::ToI4(std::int32_t* out) const {
    return toInteger(Value(), out);
}

HResult Variant::ToR4(float* out) const {
    double d = 0;
    if (const HResult r = ToR8(&d); Failed(r))
        return r;
    if (std::isfinite(d) && std::fabs(d) > double(std::numeric_limits<float>::max()))
        return hr::Overflow;
    *out = float(d);
    return hr::Ok;
}

HResult Variant::ToBool(bool* out) const {
    const Variant v = Value();
    if (v.type_ == VarType::String) {
        const QString text = v.string_.trimmed();
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
            *out = true;
            return hr::Ok;
        }
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
            *out = false;
            return hr::Ok;
        }
    }
    double d = 0;
    if (const HResult r = asDouble(v, &d); Failed(r))
        return r;
    *out = d != 0;
    return hr::Ok;
}

HResult Variant::ToString(QString* out) const {
    const Variant v = Value();
    switch (v.type_) {
    case VarType::Empty:
        out->clear();
        return hr::Ok;
    case VarType::I2:
        *out = QString::number(v.data_.i2);
        return hr::Ok;
    case VarType::I4:
        *out = QString::number(v.data_.i4);
        return hr::Ok;
    case VarType::R4:
        *out = QString::number(v.data_.r4, 'g', 7);
        return hr::Ok;
    case VarType::R8:
        *out = QString::number(v.data_.r8, 'g', 15);
        return hr::Ok;
    case VarType::Bool:
        *out = v.data_.i2 ? QStringLiteral("True") : QStringLiteral("False");
        return hr::Ok;
    case VarType::String:
        *out = v.string_;
        return hr::Ok;
    case VarType::Object:
        break;
    }
    return hr::TypeMismatch;
}

HResult Variant::ToObject(const Guid& iid, void** out) const {
    *out = nullptr;
    if (type_ != VarType::Object || byRef_)
        return hr::TypeMismatch;
    if (!data_.object)
        return hr::Ok;
    return data_.object->QueryInterface(iid, out);
}

HResult Variant::Assign(const Variant& value) const {
    if (!byRef_)
        return hr::TypeMismatch;
    if (type_ == VarType::I2)
        return data_.refI2 ? value.ToI2(data_.refI2) : hr::Pointer;
    return data_.refI4 ? value.ToI4(data_.refI4) : hr::Pointer;
}

} // namespace platform::control
