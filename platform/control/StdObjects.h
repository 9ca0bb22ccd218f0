// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The boundary's ready-made objects: the in-memory property bag a host keeps a control's stored
// properties in, and the object helper both sides build their reference-counted classes on.
#pragma once

#include "platform/control/Control.h"

#include <tuple>
#include <vector>

namespace platform::control {

// IUnknown for a class implementing the interfaces Is...: AddRef, Release, and QueryInterface
// answering IUnknown and each listed interface.
template <typename Self, typename... Is>
class ComObject : public Is... {
public:
    HResult QueryInterface(const Guid& iid, void** out) override {
        if (!out)
            return hr::Pointer;
        *out = nullptr;
        if (iid == IUnknown::Iid)
            *out = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            (void)((iid == Is::Iid ? (*out = static_cast<Is*>(this), true) : false) || ...);
        if (!*out)
            return hr::NoInterface;
        AddRef();
        return hr::Ok;
    }
    std::uint32_t AddRef() override { return refs_.Increment(); }
    std::uint32_t Release() override {
        const std::uint32_t left = refs_.Decrement();
        if (left == 0)
            delete static_cast<Self*>(this);
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    using First = std::tuple_element_t<0, std::tuple<Is...>>;
    RefCount refs_;
};

// Stored properties in the order they were written; names compare case-insensitively.
class PropertyBag final : public ComObject<PropertyBag, IPropertyBag> {
public:
    struct Entry {
        QString name;
        Variant value;
    };

    static ComPtr<PropertyBag> Create();

    HResult Read(const QString& name, Variant* out) override;
    HResult Write(const QString& name, const Variant& value) override;

    const std::vector<Entry>& Entries() const { return entries_; }
    QStringList Names() const;
    bool Contains(const QString& name) const { return find(name) >= 0; }
    // The value stored under name, or Empty.
    Variant Get(const QString& name) const;

private:
    friend class ComObject<PropertyBag, IPropertyBag>;
    PropertyBag() = default;
    // The index of name's entry, or -1.
    int find(const QString& name) const;
    std::vector<Entry> entries_;
};

} // namespace platform::control
