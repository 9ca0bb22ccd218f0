// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Initialisation, saving and loading of a gauge. The bag's defaults are not the initial values
// of a new control, so a new, unchanged control writes the entries whose initial value differs
// from the bag default. Loading bypasses the setters (no clamp of Value, no layout pass per
// property, no notifications), except for Picture, and ignores a failing entry.
#include "gauge/OmbrelGauge.h"

#include "platform/control/StdObjects.h"

namespace gauge {

namespace hr = platform::control::hr;
using platform::control::ComPtr;
using platform::control::Failed;
using platform::control::FontDescription;
using platform::control::IFontObject;
using platform::control::Succeeded;
using platform::control::Variant;
using platform::control::VarType;

namespace {

constexpr std::int16_t DefaultValue = 50;
constexpr std::int32_t DefaultBackColor = std::int32_t(0x8000000Fu);
constexpr std::int16_t DefaultBorderWidth = 1;
constexpr std::int32_t DefaultPercentColor = std::int32_t(0x80000012u);
constexpr std::int32_t DefaultProgressColor = 0x00FF0000;
constexpr std::int32_t DefaultBorderColor = std::int32_t(0x80000008u);
constexpr std::int32_t DefaultFadeInColor = 0x0080C0FF;
constexpr std::int32_t DefaultFadeOutColor = 0x0000C000;

Variant readOr(IPropertyBag& bag, const char* name, const Variant& fallback) {
    Variant v;
    return Failed(bag.Read(QLatin1String(name), &v)) ? fallback : v;
}

// Numbers (booleans included) compare by value, strings exactly; nothing else is "equal".
bool sameValue(const Variant& a, const Variant& b) {
    if (a.Type() == VarType::String || b.Type() == VarType::String) {
        QString x, y;
        return a.Type() == b.Type() && Succeeded(a.ToString(&x)) && Succeeded(b.ToString(&y)) &&
               x == y;
    }
    double x = 0, y = 0;
    return Succeeded(a.ToR8(&x)) && Succeeded(b.ToR8(&y)) && x == y;
}

void writeUnlessDefault(IPropertyBag& bag, const char* name, const Variant& value,
                        const Variant& fallback) {
    if (!sameValue(value, fallback))
        bag.Write(QLatin1String(name), value);
}

std::optional<FontDescription> ambientFont(IControlSite* site) {
    ComPtr<IFontObject> font;
    if (!site || Failed(site->GetAmbientFont(font.Receive())) || !font)
        return std::nullopt;
    return font->Description();
}

ComPtr<IFontObject> copyOf(IFontObject* font) {
    ComPtr<IFontObject> copy;
    if (font)
        font->Clone(copy.Receive());
    return copy;
}

} // namespace

HResult OmbrelGauge::Save(IPropertyBag& bag, IControlSite* site) const {
    const FontDescription f = font();
    writeUnlessDefault(bag, "Value", Variant::I2(currentValue_), Variant::I2(DefaultValue));
    writeUnlessDefault(bag, "BackColor", Variant::I4(std::int32_t(BackColor())),
                       Variant::I4(DefaultBackColor));
    writeUnlessDefault(bag, "BorderWidth", Variant::I2(BorderWidth()),
                       Variant::I2(DefaultBorderWidth));
    writeUnlessDefault(bag, "FontUnderline", Variant::Bool(f.underline), Variant::Bool(false));
    writeUnlessDefault(bag, "FontStrikethru", Variant::Bool(f.strikethrough), Variant::Bool(false));
    writeUnlessDefault(bag, "FontSize", Variant::R4(f.size), Variant::I2(0));
    writeUnlessDefault(bag, "FontName", Variant::String(f.name), Variant::String(QString()));
    writeUnlessDefault(bag, "FontItalic", Variant::Bool(f.italic), Variant::Bool(false));
    writeUnlessDefault(bag, "FontBold", Variant::Bool(f.bold), Variant::Bool(false));
    // A stored font is a copy, so later changes to the text's font leave the stored one alone.
    if (ambientFont(site) != f)
        bag.Write(QStringLiteral("Font"), Variant::Object(copyOf(Font().Get()).Get()));
    writeUnlessDefault(bag, "PercentColor", Variant::I4(std::int32_t(PercentColor())),
                       Variant::I4(DefaultPercentColor));
    writeUnlessDefault(bag, "ProgressColor", Variant::I4(std::int32_t(ProgressColor())),
                       Variant::I4(DefaultProgressColor));
    writeUnlessDefault(bag, "BorderColor", Variant::I4(std::int32_t(BorderColor())),
                       Variant::I4(DefaultBorderColor));
    writeUnlessDefault(bag, "PercentVisible", Variant::Bool(percentShown_), Variant::Bool(true));
    writeUnlessDefault(bag, "FadeInColor", Variant::I4(std::int32_t(FadeInColor())),
                       Variant::I4(DefaultFadeInColor));
    writeUnlessDefault(bag, "FadeOutColor", Variant::I4(std::int32_t(FadeOutColor())),
                       Variant::I4(DefaultFadeOutColor));
    if (Picture())
        bag.Write(QStringLiteral("Picture"), Variant::Object(Picture().Get()));
    writeUnlessDefault(bag, "FadeEnabled", Variant::Bool(fadeOn_), Variant::Bool(false));
    return hr::Ok;
}

HResult OmbrelGauge::Load(IPropertyBag& bag, IControlSite* site) {
    std::int16_t i2 = 0;
    std::int32_t i4 = 0;
    bool on = false;
    float size = 0;
    QString text;
    IFontObject& textFont = *percent_.Font().Get();

    if (Succeeded(readOr(bag, "Value", Variant::I2(DefaultValue)).ToI2(&i2)))
        currentValue_ = i2;
    if (Succeeded(readOr(bag, "BackColor", Variant::I4(DefaultBackColor)).ToI4(&i4)))
        surface_.SetBackColor(OleColor(i4));
    if (Succeeded(readOr(bag, "BorderWidth", Variant::I2(DefaultBorderWidth)).ToI2(&i2)))
        border_.SetPenWidth(i2);
    if (Succeeded(readOr(bag, "FontUnderline", Variant::Bool(false)).ToBool(&on)))
        textFont.SetUnderline(on);
    if (Succeeded(readOr(bag, "FontStrikethru", Variant::Bool(false)).ToBool(&on)))
        textFont.SetStrikethrough(on);
    if (Succeeded(readOr(bag, "FontSize", Variant::I2(0)).ToR4(&size)))
        textFont.SetSize(size);
    if (Succeeded(readOr(bag, "FontName", Variant::String(QString())).ToString(&text)))
        textFont.SetName(text);
    if (Succeeded(readOr(bag, "FontItalic", Variant::Bool(false)).ToBool(&on)))
        textFont.SetItalic(on);
    if (Succeeded(readOr(bag, "FontBold", Variant::Bool(false)).ToBool(&on)))
        textFont.SetBold(on);

    // The whole font last, so a stored font wins over the single entries.
    Variant stored;
    ComPtr<IFontObject> replacement;
    if (Succeeded(bag.Read(QStringLiteral("Font"), &stored))) {
        ComPtr<IFontObject> given;
        if (Succeeded(stored.ToObject(IFontObject::Iid, reinterpret_cast<void**>(given.Receive()))))
            replacement = copyOf(given.Get());
    } else if (site) {
        site->GetAmbientFont(replacement.Receive());
    }
    if (replacement)
        percent_.SetFont(replacement.Get());

    if (Succeeded(readOr(bag, "PercentColor", Variant::I4(DefaultPercentColor)).ToI4(&i4)))
        percent_.SetColour(OleColor(i4));
    if (Succeeded(readOr(bag, "ProgressColor", Variant::I4(DefaultProgressColor)).ToI4(&i4)))
        bar_.SetColour(OleColor(i4));
    if (Succeeded(readOr(bag, "BorderColor", Variant::I4(DefaultBorderColor)).ToI4(&i4)))
        borderColour_.SetColour(OleColor(i4));
    border_.SetColour(borderColour_.Colour());
    if (Succeeded(readOr(bag, "PercentVisible", Variant::Bool(true)).ToBool(&on)))
        percentShown_ = on;
    if (Succeeded(readOr(bag, "FadeInColor", Variant::I4(DefaultFadeInColor)).ToI4(&i4)))
        fadeIn_.SetColour(OleColor(i4));
    if (Succeeded(readOr(bag, "FadeOutColor", Variant::I4(DefaultFadeOutColor)).ToI4(&i4)))
        fadeOut_.SetColour(OleColor(i4));
    ComPtr<IPictureObject> picture;
    if (Succeeded(readOr(bag, "Picture", Variant::Object(nullptr))
                      .ToObject(IPictureObject::Iid, reinterpret_cast<void**>(picture.Receive()))))
        SetPicture(picture.Get());
    if (Succeeded(readOr(bag, "FadeEnabled", Variant::Bool(false)).ToBool(&on)))
        fadeOn_ = on;
    LayoutBar();
    return hr::Ok;
}

} // namespace gauge
