// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The stored properties of the main window's progress bar, as its layout holds them.
#pragma once

#include "platform/control/StdObjects.h"

inline platform::control::ComPtr<platform::control::PropertyBag> MainWindowLayout() {
    using namespace platform::control;
    auto bag = PropertyBag::Create();
    FontDescription arial;
    arial.name = QStringLiteral("Arial");
    arial.size = 9.75f;
    bag->Write(QStringLiteral("Value"), Variant::I2(0));
    bag->Write(QStringLiteral("BackColor"), Variant::I4(0x00FFFFFF));
    bag->Write(QStringLiteral("FontSize"), Variant::R4(9.75f));
    bag->Write(QStringLiteral("FontName"), Variant::String(QStringLiteral("Arial")));
    bag->Write(QStringLiteral("Font"), Variant::Object(CreateFontObject(arial).Get()));
    bag->Write(QStringLiteral("PercentColor"), Variant::I4(0x000000FF));
    bag->Write(QStringLiteral("ProgressColor"), Variant::I4(0x0000FF00));
    bag->Write(QStringLiteral("BorderColor"), Variant::I4(0x00FF8080));
    bag->Write(QStringLiteral("FadeEnabled"), Variant::Bool(true));
    return bag;
}
