// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// A control placed on a host window: the host's whole view of it (its "extended control").
// Create looks the control up by ProgID, loads it with the window's stored properties (or as a
// new control without them), gives it a site whose ambient font is the window's font, and
// shows it as a child widget at a pixel geometry. Afterwards the window puts and gets
// properties by dispatch id or by name. Destroying the HostedControl releases the control,
// which deletes its widget; if the window was deleted first, the widget went with it and the
// release is still safe.
#pragma once

#include "platform/control/Control.h"
#include "platform/control/Loader.h"
#include "platform/control/StdObjects.h"

#include <QFont>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>

class QWidget;

namespace platform::control {

class HostedControl {
public:
    struct Placement {
        CreateRequest control; // ProgID, expected class id, library file for messages
        QWidget* parent = nullptr;
        QRect geometry;                // pixels, in parent's coordinates
        PropertyBag* stored = nullptr; // null: a new control with its initial values
        QFont ambientFont;
    };

    // Null on failure, with *message saying what failed for which ProgID and how to register.
    static std::unique_ptr<HostedControl> Create(const Placement& placement, QString* message);
    ~HostedControl();
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;

    // The control's widget, or null once its parent has deleted it.
    QWidget* Widget() const;

    // A put takes its value by reference when given one: Put(id, Variant::RefI2(&percent)).
    HResult Put(DispId id, const Variant& value);
    HResult Put(const QString& name, const Variant& value);
    HResult PutRef(const QString& name, const Variant& object);
    HResult Get(DispId id, Variant* out);
    HResult Get(const QString& name, Variant* out);
    HResult Call(const QString& method);
    // The control's properties as it would store them.
    HResult Save(PropertyBag* bag);

    // Told about every property change the control reports (the stored layout is modified).
    void SetChangeHandler(std::function<void(DispId)> handler);

    IDispatch* Dispatch() const { return dispatch_.Get(); }

private:
    class Site;
    HostedControl() = default;
    HResult idOf(const QString& name, DispId* id);
    HResult invoke(DispId id, unsigned kind, const Variant* arg, Variant* out);

    ComPtr<IDispatch> dispatch_;
    ComPtr<Site> site_;
    QPointer<QWidget> widget_;
};

} // namespace platform::control
