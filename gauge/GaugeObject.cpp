// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "gauge/GaugeObject.h"

#include "gauge/AboutBox.h"
#include "gauge/GaugeWidget.h"
#include "platform/control/OmbrelIds.h"

#include <iterator>

namespace gauge {

namespace hr = platform::control::hr;
namespace ids = platform::control::ombrel;
namespace dispid = platform::control::ombrel::dispid;
using platform::control::Failed;
using platform::control::MemberKind;
using platform::control::MemberType;

namespace {

constexpr char BackgroundHelp[] =
    "Returns/sets the background color used to display text and graphics in an object.";

struct Member {
    const char* name;
    DispId id;
    MemberKind kind;
    MemberType type;
    const char* help;
};

constexpr MemberKind GetPut = MemberKind::PropertyGetPut;
constexpr MemberKind GetPutRef = MemberKind::PropertyGetPutRef;

// The members of _OmbrelGauge, in their order.
const Member Members[] = {
    {"Value", dispid::Value, GetPut, MemberType::Int16, ""},
    {"BackColor", dispid::BackColor, GetPut, MemberType::Colour, BackgroundHelp},
    {"BorderWidth", dispid::BorderWidth, GetPut, MemberType::Int16,
     "Returns or sets the width of a control's border."},
    {"FontUnderline", dispid::FontUnderline, GetPut, MemberType::Bool,
     "Returns/sets underline font styles."},
    {"FontStrikethru", dispid::FontStrikethru, GetPut, MemberType::Bool,
     "Returns/sets strikethrough font styles."},
    {"FontSize", dispid::FontSize, GetPut, MemberType::Float32,
     "Specifies the size (in points) of the font that appears in each row for the given level."},
    {"FontName", dispid::FontName, GetPut, MemberType::String,
     "Specifies the name of the font that appears in each row for the given level."},
    {"FontItalic", dispid::FontItalic, GetPut, MemberType::Bool,
     "Returns/sets italic font styles."},
    {"FontBold", dispid::FontBold, GetPut, MemberType::Bool, "Returns/sets bold font styles."},
    {"Font", dispid::Font, GetPutRef, MemberType::Font, "Returns a Font object."},
    {"PercentColor", dispid::PercentColor, GetPut, MemberType::Colour,
     "Returns/sets the foreground color used to display text and graphics in an object."},
    {"ProgressColor", dispid::ProgressColor, GetPut, MemberType::Colour, BackgroundHelp},
    {"BorderColor", dispid::BorderColor, GetPut, MemberType::Colour, BackgroundHelp},
    {"PercentVisible", dispid::PercentVisible, GetPut, MemberType::Bool, ""},
    {"FadeInColor", dispid::FadeInColor, GetPut, MemberType::Colour, BackgroundHelp},
    {"FadeOutColor", dispid::FadeOutColor, GetPut, MemberType::Colour, BackgroundHelp},
    {"Refresh", dispid::Refresh, MemberKind::Method, MemberType::None, ""},
    {"About", dispid::About, MemberKind::Method, MemberType::None, ""},
    {"Picture", dispid::Picture, GetPutRef, MemberType::Picture,
     "Returns/sets a graphic to be displayed in a control."},
    {"FadeEnabled", dispid::FadeEnabled, GetPut, MemberType::Bool, ""},
};

const Member* findMember(DispId id) {
    for (const Member& m : Members) {
        if (m.id == id)
            return &m;
    }
    return nullptr;
}

Variant colour(OleColor c) {
    return Variant::I4(std::int32_t(c));
}

template <typename Setter>
HResult putColour(const Variant& value, Setter set) {
    std::int32_t c = 0;
    const HResult r = value.ToI4(&c);
    return Failed(r) ? r : set(OleColor(c));
}

template <typename Setter>
HResult putBool(const Variant& value, Setter set) {
    bool on = false;
    const HResult r = value.ToBool(&on);
    return Failed(r) ? r : set(on);
}

template <typename Setter>
HResult putInt16(const Variant& value, Setter set) {
    std::int16_t n = 0;
    const HResult r = value.ToI2(&n);
    return Failed(r) ? r : set(n);
}

} // namespace

GaugeObject::GaugeObject() {
    gauge_.onChanged = [this](DispId id) {
        if (site_)
            site_->OnChanged(id);
    };
    gauge_.onRepaintNeeded = [this] { updateWindow(); };
}

GaugeObject::~GaugeObject() {
    // The window goes first: it draws from gauge_. A window whose parent deleted it is gone.
    delete window_.data();
}

HResult GaugeObject::QueryInterface(const Guid& iid, void** out) {
    using Base = ComObject<GaugeObject, IDispatch, IPersistPropertyBag, IControl>;
    return Base::QueryInterface(iid == ids::DispatchIid ? IDispatch::Iid : iid, out);
}

HResult GaugeObject::GetIdOfName(const QString& name, DispId* id) {
    if (!id)
        return hr::Pointer;
    for (const Member& m : Members) {
        if (name.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0) {
            *id = m.id;
            return hr::Ok;
        }
    }
    return hr::UnknownName;
}

int GaugeObject::MemberCount() {
    return int(std::size(Members));
}

HResult GaugeObject::DescribeMember(int index, MemberDescription* out) {
    if (!out)
        return hr::Pointer;
    if (index < 0 || index >= MemberCount())
        return hr::InvalidArgument;
    const Member& m = Members[index];
    *out = {QLatin1String(m.name), m.id, m.kind, m.type, QLatin1String(m.help)};
    return hr::Ok;
}

HResult GaugeObject::Invoke(DispId id, unsigned kind, const Variant* args, int argCount,
                            Variant* result) {
    using namespace platform::control;
    // About runs a modal loop, in which the caller may release its last reference; the
    // object stays alive until the call is over.
    const ComPtr<GaugeObject> keepAlive(this);
    const Member* m = findMember(id);
    if (!m)
        return hr::MemberNotFound;
    if (argCount < 0 || (argCount > 0 && !args))
        return hr::Pointer;
    HResult r = hr::MemberNotFound;
    if (m->kind == MemberKind::Method) {
        if (kind & (InvokeMethod | InvokePropertyGet))
            r = argCount == 0 ? call(id) : hr::BadParamCount;
    } else if (kind & InvokePropertyGet) {
        if (argCount != 0)
            r = hr::BadParamCount;
        else
            r = result ? get(id, result) : hr::Pointer;
    } else if ((kind & InvokePropertyPut) && m->kind == MemberKind::PropertyGetPut) {
        r = argCount == 1 ? put(id, args[0]) : hr::BadParamCount;
    } else if ((kind & InvokePropertyPutRef) && m->kind == MemberKind::PropertyGetPutRef) {
        r = argCount == 1 ? putRef(id, args[0]) : hr::BadParamCount;
    }
    updateWindow();
    return r;
}

HResult GaugeObject::get(DispId id, Variant* out) {
    const OmbrelGauge& g = gauge_;
    switch (id) {
    case dispid::Value:
        *out = Variant::I2(g.Value());
        break;
    case dispid::BackColor:
        *out = colour(g.BackColor());
        break;
    case dispid::BorderWidth:
        *out = Variant::I2(g.BorderWidth());
        break;
    case dispid::FontUnderline:
        *out = Variant::Bool(g.FontUnderline());
        break;
    case dispid::FontStrikethru:
        *out = Variant::Bool(g.FontStrikethru());
        break;
    case dispid::FontSize:
        *out = Variant::R4(g.FontSize());
        break;
    case dispid::FontName:
        *out = Variant::String(g.FontName());
        break;
    case dispid::FontItalic:
        *out = Variant::Bool(g.FontItalic());
        break;
    case dispid::FontBold:
        *out = Variant::Bool(g.FontBold());
        break;
    case dispid::Font:
        *out = Variant::Object(g.Font().Get());
        break;
    case dispid::PercentColor:
        *out = colour(g.PercentColor());
        break;
    case dispid::ProgressColor:
        *out = colour(g.ProgressColor());
        break;
    case dispid::BorderColor:
        *out = colour(g.BorderColor());
        break;
    case dispid::PercentVisible:
        *out = Variant::Bool(g.PercentVisible());
        break;
    case dispid::FadeInColor:
        *out = colour(g.FadeInColor());
        break;
    case dispid::FadeOutColor:
        *out = colour(g.FadeOutColor());
        break;
    case dispid::Picture:
        *out = Variant::Object(g.Picture().Get());
        break;
    case dispid::FadeEnabled:
        *out = Variant::Bool(g.FadeEnabled());
        break;
    default:
        return hr::MemberNotFound;
    }
    return hr::Ok;
}

HResult GaugeObject::put(DispId id, const Variant& value) {
    OmbrelGauge& g = gauge_;
    switch (id) {
    case dispid::Value:
        return putInt16(value, [&](std::int16_t v) { return g.SetValue(v); });
    case dispid::BackColor:
        return putColour(value, [&](OleColor c) { return g.SetBackColor(c); });
    case dispid::BorderWidth:
        return putInt16(value, [&](std::int16_t v) { return g.SetBorderWidth(v); });
    case dispid::FontUnderline:
        return putBool(value, [&](bool on) { return g.SetFontUnderline(on); });
    case dispid::FontStrikethru:
        return putBool(value, [&](bool on) { return g.SetFontStrikethru(on); });
    case dispid::FontSize: {
        float size = 0;
        const HResult r = value.ToR4(&size);
        return Failed(r) ? r : g.SetFontSize(size);
    }
    case dispid::FontName: {
        QString name;
        const HResult r = value.ToString(&name);
        return Failed(r) ? r : g.SetFontName(name);
    }
    case dispid::FontItalic:
        return putBool(value, [&](bool on) { return g.SetFontItalic(on); });
    case dispid::FontBold:
        return putBool(value, [&](bool on) { return g.SetFontBold(on); });
    case dispid::PercentColor:
        return putColour(value, [&](OleColor c) { return g.SetPercentColor(c); });
    case dispid::ProgressColor:
        return putColour(value, [&](OleColor c) { return g.SetProgressColor(c); });
    case dispid::BorderColor:
        return putColour(value, [&](OleColor c) { return g.SetBorderColor(c); });
    case dispid::PercentVisible:
        return putBool(value, [&](bool on) { return g.SetPercentVisible(on); });
    case dispid::FadeInColor:
        return putColour(value, [&](OleColor c) { return g.SetFadeInColor(c); });
    case dispid::FadeOutColor:
        return putColour(value, [&](OleColor c) { return g.SetFadeOutColor(c); });
    case dispid::FadeEnabled:
        return putBool(value, [&](bool on) { return g.SetFadeEnabled(on); });
    default:
        return hr::MemberNotFound;
    }
}

HResult GaugeObject::putRef(DispId id, const Variant& value) {
    if (id == dispid::Font) {
        ComPtr<IFontObject> font;
        const HResult r =
            value.ToObject(IFontObject::Iid, reinterpret_cast<void**>(font.Receive()));
        return Failed(r) ? r : gauge_.SetFont(font.Get());
    }
    if (id == dispid::Picture) {
        ComPtr<IPictureObject> picture;
        const HResult r =
            value.ToObject(IPictureObject::Iid, reinterpret_cast<void**>(picture.Receive()));
        return Failed(r) ? r : gauge_.SetPicture(picture.Get());
    }
    return hr::MemberNotFound;
}

HResult GaugeObject::call(DispId id) {
    if (id == dispid::Refresh)
        return gauge_.Refresh();
    if (id == dispid::About) {
        ShowAboutBox(window_.data());
        return hr::Ok;
    }
    return hr::MemberNotFound;
}

HResult GaugeObject::InitNew() {
    const HResult r = gauge_.InitNew();
    updateWindow();
    return r;
}

HResult GaugeObject::Load(IPropertyBag* bag) {
    if (!bag)
        return hr::Pointer;
    const HResult r = gauge_.Load(*bag, site_.Get());
    updateWindow();
    return r;
}

HResult GaugeObject::Save(IPropertyBag* bag) {
    return bag ? gauge_.Save(*bag, site_.Get()) : hr::Pointer;
}

HResult GaugeObject::SetClientSite(IControlSite* site) {
    site_ = ComPtr<IControlSite>(site);
    return hr::Ok;
}

HResult GaugeObject::SetExtent(const QSize& pixels) {
    if (pixels.width() < 0 || pixels.height() < 0)
        return hr::InvalidArgument;
    if (window_)
        window_->resize(pixels);
    const HResult r = gauge_.Resize(pixels);
    updateWindow();
    return r;
}

HResult GaugeObject::CreateWindow(QWidget* parent, const QRect& geometry, QWidget** out) {
    if (!out)
        return hr::Pointer;
    *out = nullptr;
    if (window_)
        return hr::Fail;
    if (geometry.width() < 0 || geometry.height() < 0)
        return hr::InvalidArgument;
    gauge_.Resize(geometry.size());
    auto* window = new GaugeWidget(gauge_, parent);
    window->setGeometry(geometry);
    window->show();
    window_ = window;
    *out = window;
    return hr::Ok;
}

void GaugeObject::updateWindow() {
    if (window_)
        window_->refresh();
}

} // namespace gauge
