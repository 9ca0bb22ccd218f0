// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// The control boundary: what a host window and an in-process control library say to each other.
//
// A host finds a control's library through the per-user control registry (Registry.h), loads it
// and asks its class factory (DllGetClassObject) for the control. It hands the control a site
// (IControlSite: ambient font, change notification), its pixel size and window (IControl), and
// its stored properties (IPersistPropertyBag over an IPropertyBag of name -> Variant entries).
// From then on it drives the control through IDispatch: properties and methods by dispatch id,
// with ids found by name and described for design tools. Object properties travel as font and
// picture objects (IFontObject, IPictureObject); a font tells its sinks when it changes, so a
// control that holds a font redraws its text when someone changes the font through it.
// Nothing else crosses: no events, no aggregation, no marshalling, one thread.
#pragma once

#include "platform/control/Com.h"
#include "platform/control/Variant.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace platform::control {

using DispId = std::int32_t;

// How a member is invoked; Method and PropertyGet may be combined, as callers often do.
enum InvokeKind : unsigned {
    InvokeMethod = 1,
    InvokePropertyGet = 2,
    InvokePropertyPut = 4,
    InvokePropertyPutRef = 8,
};

enum class MemberKind { PropertyGetPut, PropertyGetPutRef, Method };

// The declared type of a member, as a design tool shows it.
enum class MemberType { None, Int16, Int32, Float32, Bool, String, Colour, Font, Picture };

struct MemberDescription {
    QString name;
    DispId id = 0;
    MemberKind kind = MemberKind::Method;
    MemberType type = MemberType::None;
    QString helpString;
};

class IDispatch : public IUnknown {
public:
    static constexpr Guid Iid{
        0x36CC7C6A, 0x99FC, 0x4BF8, {0x8B, 0xC2, 0xAB, 0x62, 0x11, 0xC3, 0xFD, 0xF0}};
    // Case-insensitive; UnknownName when there is no such member.
    virtual HResult GetIdOfName(const QString& name, DispId* id) = 0;
    // args holds the put value (one argument) or nothing; result receives a get's value.
    virtual HResult Invoke(DispId id, unsigned kind, const Variant* args, int argCount,
                           Variant* result) = 0;
    virtual int MemberCount() = 0;
    virtual HResult DescribeMember(int index, MemberDescription* out) = 0;

protected:
    ~IDispatch() = default;
};

// Font object dispatch ids, reported to font sinks.
namespace fontid {
inline constexpr DispId Name = 0;
inline constexpr DispId Size = 2;
inline constexpr DispId Bold = 3;
inline constexpr DispId Italic = 4;
inline constexpr DispId Underline = 5;
inline constexpr DispId Strikethrough = 6;
} // namespace fontid

struct FontDescription {
    QString name;
    float size = 0; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;
    friend bool operator==(const FontDescription&, const FontDescription&) = default;
};

// The QFont that draws a description at 96 dots per inch, whatever the screen says.
QFont ToQFont(const FontDescription& font);
// The description of a widget font, for handing a window's font to a control as ambient font.
FontDescription FromQFont(const QFont& font);

// Told when a font it listens to changes; not reference-counted: a sink unadvises before it dies.
class IFontSink {
public:
    virtual void OnFontChanged(DispId property) = 0;

protected:
    ~IFontSink() = default;
};

class IFontObject : public IUnknown {
public:
    static constexpr Guid Iid{
        0xE5778F10, 0x9F0E, 0x4AEF, {0x92, 0x0F, 0x71, 0x1C, 0x31, 0x63, 0x5C, 0xBC}};
    virtual FontDescription Description() = 0;
    virtual HResult SetName(const QString& name) = 0;
    // Refuses sizes below 0 or above MaxFontSize points with InvalidPropertyValue.
    virtual HResult SetSize(float points) = 0;
    virtual HResult SetBold(bool on) = 0;
    virtual HResult SetItalic(bool on) = 0;
    virtual HResult SetUnderline(bool on) = 0;
    virtual HResult SetStrikethrough(bool on) = 0;
    // A new, independent font object with the same description.
    virtual HResult Clone(IFontObject** out) = 0;
    virtual void Advise(IFontSink* sink) = 0;
    virtual void Unadvise(IFontSink* sink) = 0;

protected:
    ~IFontObject() = default;
};

inline constexpr float MaxFontSize = 2160.0f;

// A picture object: an immutable image, drawn unscaled.
class IPictureObject : public IUnknown {
public:
    static constexpr Guid Iid{
        0x480D9359, 0x91B5, 0x474E, {0x8F, 0x73, 0x4A, 0x78, 0xBB, 0x5D, 0x0B, 0xE0}};
    virtual QImage Image() = 0;

protected:
    ~IPictureObject() = default;
};

ComPtr<IFontObject> CreateFontObject(const FontDescription& font);
ComPtr<IPictureObject> CreatePictureObject(const QImage& image);

// Named values; Read reports InvalidArgument for a name the bag does not hold.
class IPropertyBag : public IUnknown {
public:
    static constexpr Guid Iid{
        0xA2FE964D, 0xB9D2, 0x471A, {0xA6, 0xE2, 0xBC, 0xBB, 0x29, 0xAB, 0x1F, 0xE0}};
    virtual HResult Read(const QString& name, Variant* out) = 0;
    virtual HResult Write(const QString& name, const Variant& value) = 0;

protected:
    ~IPropertyBag() = default;
};

class IPersistPropertyBag : public IUnknown {
public:
    static constexpr Guid Iid{
        0x577CEABA, 0xE754, 0x4FC4, {0xB9, 0xF9, 0xA6, 0x0B, 0xDB, 0xA8, 0xE5, 0xE4}};
    // A control placed for the first time: its initial values.
    virtual HResult InitNew() = 0;
    virtual HResult Load(IPropertyBag* bag) = 0;
    virtual HResult Save(IPropertyBag* bag) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

// What the host offers the control it holds.
class IControlSite : public IUnknown {
public:
    static constexpr Guid Iid{
        0x245CB337, 0x723F, 0x4820, {0xB0, 0xDF, 0x75, 0xC0, 0x9E, 0x45, 0xDB, 0x46}};
    // A new font object describing the container's font; Fail when the host has none.
    virtual HResult GetAmbientFont(IFontObject** out) = 0;
    // A property changed: the host marks its stored layout as modified.
    virtual void OnChanged(DispId property) = 0;

protected:
    ~IControlSite() = default;
};

// Placing a control: its site, its size and its window.
class IControl : public IUnknown {
public:
    static constexpr Guid Iid{
        0x16DE202C, 0x00D8, 0x41C3, {0xA3, 0xA7, 0x11, 0x99, 0xA6, 0xCB, 0xE3, 0xA7}};
    // Set before InitNew or Load, which ask the site for the ambient font; null detaches.
    virtual HResult SetClientSite(IControlSite* site) = 0;
    virtual HResult SetExtent(const QSize& pixels) = 0;
    // Creates the control's window as a child of parent at geometry (pixels). The parent owns
    // the widget; the control deletes it when the control goes, unless the parent went first.
    virtual HResult CreateWindow(QWidget* parent, const QRect& geometry, QWidget** out) = 0;

protected:
    ~IControl() = default;
};

} // namespace platform::control
