// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/ControlHost.h"

#include <QWidget>

namespace platform::control {

class HostedControl::Site final : public ComObject<Site, IControlSite> {
public:
    explicit Site(const QFont& font)
        : font_(FromQFont(font)) {}

    HResult GetAmbientFont(IFontObject** out) override {
        if (!out)
            return hr::Pointer;
        *out = CreateFontObject(font_).Detach();
        return hr::Ok;
    }
    void OnChanged(DispId property) override {
        if (handler)
            handler(property);
    }

    std::function<void(DispId)> handler;

private:
    FontDescription font_;
};

std::unique_ptr<HostedControl> HostedControl::Create(const Placement& placement, QString* message) {
    ComPtr<IControl> control;
    HResult r = CreateObject(placement.control, IControl::Iid,
                             reinterpret_cast<void**>(control.Receive()), message);
    if (Failed(r))
        return nullptr;
    std::unique_ptr<HostedControl> host(new HostedControl);
    host->site_ = ComPtr<Site>::Adopt(new Site(placement.ambientFont));
    host->dispatch_ = control.As<IDispatch>();
    const auto persist = control.As<IPersistPropertyBag>();
    if (!host->dispatch_ || !persist) {
        *message = QStringLiteral("The control %1 does not offer the interfaces of a control.")
                       .arg(placement.control.progId);
        return nullptr;
    }
    control->SetClientSite(host->site_.Get());
    control->SetExtent(placement.geometry.size());
    r = placement.stored ? persist->Load(placement.stored) : persist->InitNew();
    QWidget* widget = nullptr;
    if (Succeeded(r))
        r = control->CreateWindow(placement.parent, placement.geometry, &widget);
    if (Failed(r)) {
        control->SetClientSite(nullptr);
        *message = QStringLiteral("The control %1 could not be placed on its window: %2.")
                       .arg(placement.control.progId, ErrorText(r));
        return nullptr;
    }
    host->widget_ = widget;
    return host;
}

HostedControl::~HostedControl() {
    // The control holds the site; cut it off so no notification reaches a host that is gone.
    if (const auto control = dispatch_.As<IControl>())
        control->SetClientSite(nullptr);
}

QWidget* HostedControl::Widget() const {
    return widget_.data();
}

void HostedControl::SetChangeHandler(std::function<void(DispId)> handler) {
    site_->handler = std::move(handler);
}

HResult HostedControl::idOf(const QString& name, DispId* id) {
    return dispatch_->GetIdOfName(name, id);
}

HResult HostedControl::invoke(DispId id, unsigned kind, const Variant* arg, Variant* out) {
    return dispatch_->Invoke(id, kind, arg, arg ? 1 : 0, out);
}

HResult HostedControl::Put(DispId id, const Variant& value) {
    return invoke(id, InvokePropertyPut, &value, nullptr);
}

HResult HostedControl::Put(const QString& name, const Variant& value) {
    DispId id = 0;
    const HResult r = idOf(name, &id);
    return Failed(r) ? r : Put(id, value);
}

HResult HostedControl::PutRef(const QString& name, const Variant& object) {
    DispId id = 0;
    const HResult r = idOf(name, &id);
    return Failed(r) ? r : invoke(id, InvokePropertyPutRef, &object, nullptr);
}

HResult HostedControl::Get(DispId id, Variant* out) {
    return invoke(id, InvokePropertyGet, nullptr, out);
}

HResult HostedControl::Get(const QString& name, Variant* out) {
    DispId id = 0;
    const HResult r = idOf(name, &id);
    return Failed(r) ? r : Get(id, out);
}

HResult HostedControl::Call(const QString& method) {
    DispId id = 0;
    const HResult r = idOf(method, &id);
    return Failed(r) ? r : invoke(id, InvokeMethod, nullptr, nullptr);
}

HResult HostedControl::Save(PropertyBag* bag) {
    const auto persist = dispatch_.As<IPersistPropertyBag>();
    return persist ? persist->Save(bag) : hr::NoInterface;
}

} // namespace platform::control
