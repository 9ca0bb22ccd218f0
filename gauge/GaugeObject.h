// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The gauge behind the control boundary: its dispatch interface with the members, ids and
// descriptions hosts and design tools see, its persistence through property bags, and its
// placement on a host window with a site for the ambient font and change notification.
#pragma once

#include "gauge/GaugeWidget.h"
#include "gauge/OmbrelGauge.h"
#include "platform/control/StdObjects.h"

#include <QPointer>

namespace gauge {

using platform::control::ComObject;
using platform::control::Guid;
using platform::control::IControl;
using platform::control::IDispatch;
using platform::control::IPersistPropertyBag;
using platform::control::MemberDescription;
using platform::control::Variant;

class GaugeObject final : public ComObject<GaugeObject, IDispatch, IPersistPropertyBag, IControl> {
public:
    GaugeObject();
    ~GaugeObject() override;

    // Also answers the control's own dispatch interface, _OmbrelGauge.
    HResult QueryInterface(const Guid& iid, void** out) override;

    HResult GetIdOfName(const QString& name, DispId* id) override;
    HResult Invoke(DispId id, unsigned kind, const Variant* args, int argCount,
                   Variant* result) override;
    int MemberCount() override;
    HResult DescribeMember(int index, MemberDescription* out) override;

    HResult InitNew() override;
    HResult Load(IPropertyBag* bag) override;
    HResult Save(IPropertyBag* bag) override;

    HResult SetClientSite(IControlSite* site) override;
    HResult SetExtent(const QSize& pixels) override;
    HResult CreateWindow(QWidget* parent, const QRect& geometry, QWidget** out) override;

    const OmbrelGauge& Gauge() const { return gauge_; }

private:
    HResult get(DispId id, Variant* out);
    HResult put(DispId id, const Variant& value);
    HResult putRef(DispId id, const Variant& value);
    HResult call(DispId id);
    void updateWindow();

    OmbrelGauge gauge_;
    ComPtr<IControlSite> site_;
    QPointer<GaugeWidget> window_;
};

} // namespace gauge
