// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/ProgressBar.h"

#include "app/decoration/Messages.h"
#include "platform/control/ControlHost.h"
#include "platform/control/OmbrelIds.h"

namespace ctl = platform::control;

namespace {

ctl::ComPtr<ctl::PropertyBag> storedBag(const GaugeLayout& layout) {
    auto bag = ctl::PropertyBag::Create();
    const auto font = ctl::CreateFontObject({layout.fontName, layout.fontSize});
    bag->Write(QStringLiteral("Value"), ctl::Variant::I2(layout.value));
    bag->Write(QStringLiteral("BackColor"), ctl::Variant::I4(std::int32_t(layout.backColor)));
    bag->Write(QStringLiteral("FontSize"), ctl::Variant::R4(layout.fontSize));
    bag->Write(QStringLiteral("FontName"), ctl::Variant::String(layout.fontName));
    bag->Write(QStringLiteral("Font"), ctl::Variant::Object(font.Get()));
    bag->Write(QStringLiteral("PercentColor"), ctl::Variant::I4(std::int32_t(layout.percentColor)));
    bag->Write(QStringLiteral("ProgressColor"),
               ctl::Variant::I4(std::int32_t(layout.progressColor)));
    bag->Write(QStringLiteral("BorderColor"), ctl::Variant::I4(std::int32_t(layout.borderColor)));
    bag->Write(QStringLiteral("FadeEnabled"), ctl::Variant::Bool(layout.fadeEnabled));
    return bag;
}

} // namespace

ProgressBar::ProgressBar(QWidget* window)
    : QWidget(window) {
}

ProgressBar::~ProgressBar() = default;

ProgressBar* ProgressBar::Place(QWidget* window, const QString& name, QRect geometry,
                                const GaugeLayout& layout) {
    auto* bar = new ProgressBar(window);
    bar->setObjectName(name);
    bar->setGeometry(geometry);
    const auto bag = storedBag(layout);
    ctl::HostedControl::Placement placement;
    placement.control = {QString::fromLatin1(ctl::ombrel::ProgId), ctl::ombrel::ClassId,
                         QString::fromLatin1(ctl::ombrel::LibraryFileName)};
    placement.parent = bar;
    placement.geometry = QRect(QPoint(0, 0), geometry.size());
    placement.stored = bag.Get();
    placement.ambientFont = window->font();
    QString message;
    bar->control_ = ctl::HostedControl::Create(placement, &message);
    if (!bar->control_)
        ShowWarning(window, message);
    return bar;
}

void ProgressBar::putValue(std::int16_t percent) {
    if (control_)
        control_->Put(ctl::ombrel::dispid::Value, ctl::Variant::RefI2(&percent));
}

std::int16_t ProgressBar::value() const {
    ctl::Variant v;
    std::int16_t value = 0;
    if (control_ && control_->Get(ctl::ombrel::dispid::Value, &v) == ctl::hr::Ok)
        v.ToI2(&value);
    return value;
}

quint32 ProgressBar::backColor() const {
    ctl::Variant v;
    std::int32_t colour = 0;
    if (control_ && control_->Get(QStringLiteral("BackColor"), &v) == ctl::hr::Ok)
        v.ToI4(&colour);
    return quint32(colour);
}

void ProgressBar::setBackColor(quint32 colour) {
    if (control_)
        control_->Put(QStringLiteral("BackColor"), ctl::Variant::I4(std::int32_t(colour)));
}
