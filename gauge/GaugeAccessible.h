// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// What a screen reader learns of the gauge: a progress bar with its value, from 0 to 100,
// named by the percentage it shows. Every host of the control gets it with the control.
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace gauge {

// The accessibility factory for GaugeWidget; other classes get nothing from it.
QAccessibleInterface* GaugeAccessible(const QString& className, QObject* object);

} // namespace gauge
