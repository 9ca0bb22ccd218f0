#include "app/encoding/EncodingBar.h"

#include "platform/control/OmbrelIds.h"
#include "platform/control/StdObjects.h"

#include <QWidget>

namespace ctl = platform::control;

namespace {

ctl::ComPtr<ctl::PropertyBag> storedLayout() {
    ctl::FontDescription arial;
    arial.name = QStringLiteral("Arial");
    arial.size = 9.75f;
    const auto font = ctl::CreateFontObject(arial);
    auto bag = ctl::PropertyBag::Create();
    bag->Write(QStringLiteral("Value"), ctl::Variant::I2(0));
    bag->Write(QStringLiteral("BackColor"), ctl::Variant::I4(0xFFFFFF));
    bag->Write(QStringLiteral("FontSize"), ctl::Variant::R4(9.75f));
    bag->Write(QStringLiteral("FontName"), ctl::Variant::String(arial.name));
    bag->Write(QStringLiteral("Font"), ctl::Variant::Object(font.Get()));
    bag->Write(QStringLiteral("PercentColor"), ctl::Variant::I4(0x0000FF));
    bag->Write(QStringLiteral("ProgressColor"), ctl::Variant::I4(0x00FF00));
    bag->Write(QStringLiteral("BorderColor"), ctl::Variant::I4(0x008000));
    bag->Write(QStringLiteral("FadeEnabled"), ctl::Variant::Bool(true));
    return bag;
}

} // namespace

std::unique_ptr<ctl::HostedControl> PlaceEncodingBar(QWidget* parent, QRect geometry,
                                                     QString* message) {
    const auto layout = storedLayout();
    ctl::HostedControl::Placement placement;
    placement.control = {QString::fromLatin1(ctl::ombrel::ProgId), ctl::ombrel::ClassId,
                         QString::fromLatin1(ctl::ombrel::LibraryFileName)};
    placement.parent = parent;
    placement.geometry = geometry;
    placement.stored = layout.Get();
    placement.ambientFont = parent->font();
    auto bar = ctl::HostedControl::Create(placement, message);
    if (bar && bar->Widget())
        bar->Widget()->setObjectName(QStringLiteral("pbCur"));
    return bar;
}

void PutBarValue(ctl::HostedControl* bar, std::int16_t percent) {
    if (bar)
        bar->Put(ctl::ombrel::dispid::Value, ctl::Variant::RefI2(&percent));
}
