// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/StdObjects.h"

#include "platform/Rounding.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace platform::control {

namespace {

class FontObject final : public ComObject<FontObject, IFontObject> {
public:
    explicit FontObject(const FontDescription& font)
        : font_(font) {}

    FontDescription Description() override { return font_; }
    HResult SetName(const QString& name) override { return change(fontid::Name, font_.name, name); }
    HResult SetSize(float points) override {
        if (!(points >= 0 && points <= MaxFontSize))
            return hr::InvalidPropertyValue;
        return change(fontid::Size, font_.size, points);
    }
    HResult SetBold(bool on) override { return change(fontid::Bold, font_.bold, on); }
    HResult SetItalic(bool on) override { return change(fontid::Italic, font_.italic, on); }
    HResult SetUnderline(bool on) override {
        return change(fontid::Underline, font_.underline, on);
    }
    HResult SetStrikethrough(bool on) override {
        return change(fontid::Strikethrough, font_.strikethrough, on);
    }
    HResult Clone(IFontObject** out) override {
        if (!out)
            return hr::Pointer;
        *out = CreateFontObject(font_).Detach();
        return hr::Ok;
    }
    void Advise(IFontSink* sink) override {
        if (sink && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end())
            sinks_.push_back(sink);
    }
    void Unadvise(IFontSink* sink) override { std::erase(sinks_, sink); }

private:
    template <typename T>
    HResult change(DispId property, T& field, const T& value) {
        if (field == value)
            return hr::Ok;
        field = value;
        // A sink may unadvise while being told.
        const std::vector<IFontSink*> sinks = sinks_;
        for (IFontSink* sink : sinks)
            sink->OnFontChanged(property);
        return hr::Ok;
    }

    FontDescription font_;
    std::vector<IFontSink*> sinks_;
};

class PictureObject final : public ComObject<PictureObject, IPictureObject> {
public:
    explicit PictureObject(const QImage& image)
        : image_(image) {}
    QImage Image() override { return image_; }

private:
    QImage image_;
};

} // namespace

QFont ToQFont(const FontDescription& font) {
    QFont f;
    if (!font.name.isEmpty())
        f.setFamily(font.name);
    // Points to pixels at 96 dots per inch, so text measures the same on every screen.
    const int pixels = RoundToInt<int>(double(font.size) * 96.0 / 72.0).value_or(1);
    f.setPixelSize(std::max(1, pixels));
    f.setBold(font.bold);
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikethrough);
    return f;
}

FontDescription FromQFont(const QFont& font) {
    FontDescription d;
    d.name = font.family();
    d.size = font.pointSizeF() > 0 ? float(font.pointSizeF())
                                   : float(std::max(font.pixelSize(), 0) * 72.0 / 96.0);
    d.bold = font.weight() >= QFont::DemiBold;
    d.italic = font.italic();
    d.underline = font.underline();
    d.strikethrough = font.strikeOut();
    return d;
}

ComPtr<IFontObject> CreateFontObject(const FontDescription& font) {
    return ComPtr<IFontObject>::Adopt(new FontObject(font));
}

ComPtr<IPictureObject> CreatePictureObject(const QImage& image) {
    return ComPtr<IPictureObject>::Adopt(new PictureObject(image));
}

ComPtr<PropertyBag> PropertyBag::Create() {
    return ComPtr<PropertyBag>::Adopt(new PropertyBag);
}

int PropertyBag::find(const QString& name) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

HResult PropertyBag::Read(const QString& name, Variant* out) {
    if (!out)
        return hr::Pointer;
    const int i = find(name);
    if (i < 0)
        return hr::InvalidArgument;
    *out = entries_[i].value;
    return hr::Ok;
}

HResult PropertyBag::Write(const QString& name, const Variant& value) {
    if (const int i = find(name); i >= 0)
        entries_[i].value = value.Value();
    else
        entries_.push_back({name, value.Value()});
    return hr::Ok;
}

QStringList PropertyBag::Names() const {
    QStringList names;
    for (const Entry& e : entries_)
        names << e.name;
    return names;
}

Variant PropertyBag::Get(const QString& name) const {
    const int i = find(name);
    return i >= 0 ? entries_[i].value : Variant();
}

} // namespace platform::control
