// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The boundary's value type and ready-made objects: automation conversions, by-reference
// values, reference counting, property bags, font objects and GUID text.
#include "platform/control/StdObjects.h"

#include <gtest/gtest.h>

using namespace platform::control;

namespace {

TEST(Variant, ConvertsToSixteenBitsRoundingHalvesToEven) {
    struct Row {
        Variant from;
        HResult result;
        std::int16_t value;
    };
    const Row rows[] = {
        {Variant::R8(2.5), hr::Ok, 2},
        {Variant::R8(3.5), hr::Ok, 4},
        {Variant::R8(-2.5), hr::Ok, -2},
        {Variant::R4(32767.4f), hr::Ok, 32767},
        {Variant::R8(32767.5), hr::Overflow, 0},
        {Variant::I4(-32769), hr::Overflow, 0},
        {Variant::Bool(true), hr::Ok, -1},
        {Variant::String(QStringLiteral(" 42 ")), hr::Ok, 42},
        {Variant::String(QStringLiteral("4x")), hr::TypeMismatch, 0},
        {Variant(), hr::Ok, 0},
        {Variant::Object(nullptr), hr::TypeMismatch, 0},
    };
    for (const Row& r : rows) {
        std::int16_t out = 0;
        EXPECT_EQ(r.from.ToI2(&out), r.result);
        if (r.result == hr::Ok) {
            EXPECT_EQ(out, r.value);
        }
    }
    float f = 0;
    EXPECT_EQ(Variant::R8(1e300).ToR4(&f), hr::Overflow);
    bool on = false;
    EXPECT_EQ(Variant::String(QStringLiteral("false")).ToBool(&on), hr::Ok);
    EXPECT_FALSE(on);
    EXPECT_EQ(Variant::I4(3).ToBool(&on), hr::Ok);
    EXPECT_TRUE(on);
    QString text;
    EXPECT_EQ(Variant::R4(9.75f).ToString(&text), hr::Ok);
    EXPECT_EQ(text, QStringLiteral("9.75"));
}

TEST(Variant, ByReferenceReadsAndWritesTheCallersVariable) {
    std::int16_t percent = 70;
    const Variant ref = Variant::RefI2(&percent);
    EXPECT_TRUE(ref.IsByRef());
    std::int32_t n = 0;
    EXPECT_EQ(ref.ToI4(&n), hr::Ok);
    EXPECT_EQ(n, 70);
    EXPECT_EQ(ref.Assign(Variant::R8(12.5)), hr::Ok);
    EXPECT_EQ(percent, 12);
    EXPECT_EQ(ref.Assign(Variant::I4(40000)), hr::Overflow);
    EXPECT_EQ(percent, 12);
    EXPECT_EQ(Variant::I2(1).Assign(Variant::I2(2)), hr::TypeMismatch);
    EXPECT_EQ(Variant::RefI4(nullptr).Assign(Variant::I2(2)), hr::Pointer);
}

TEST(Variant, HoldsAReferenceToItsObject) {
    const long before = ModuleObjectCount();
    {
        Variant copy;
        {
            const auto font = CreateFontObject({});
            const Variant held = Variant::Object(font.Get());
            copy = held;
        }
        EXPECT_EQ(ModuleObjectCount(), before + 1); // the copy keeps the font alive
        ComPtr<IFontObject> font;
        EXPECT_EQ(copy.ToObject(IFontObject::Iid, reinterpret_cast<void**>(font.Receive())),
                  hr::Ok);
        ComPtr<IPictureObject> picture;
        EXPECT_EQ(copy.ToObject(IPictureObject::Iid, reinterpret_cast<void**>(picture.Receive())),
                  hr::NoInterface);
    }
    EXPECT_EQ(ModuleObjectCount(), before);
}

TEST(PropertyBag, KeepsWriteOrderAndFindsNamesInAnyCase) {
    const auto bag = PropertyBag::Create();
    bag->Write(QStringLiteral("Value"), Variant::I2(1));
    bag->Write(QStringLiteral("BackColor"), Variant::I4(2));
    std::int16_t percent = 9;
    bag->Write(QStringLiteral("VALUE"), Variant::RefI2(&percent));
    EXPECT_EQ(bag->Names(), (QStringList{"Value", "BackColor"}));
    Variant v;
    EXPECT_EQ(bag->Read(QStringLiteral("value"), &v), hr::Ok);
    EXPECT_FALSE(v.IsByRef()); // the bag stores the value, not the caller's variable
    percent = 1;
    std::int16_t n = 0;
    v.ToI2(&n);
    EXPECT_EQ(n, 9);
    EXPECT_EQ(bag->Read(QStringLiteral("Font"), &v), hr::InvalidArgument);
}

class CountingSink final : public IFontSink {
public:
    void OnFontChanged(DispId property) override { seen.push_back(property); }
    std::vector<DispId> seen;
};

TEST(FontObject, TellsItsSinksAboutRealChangesOnly) {
    const auto font = CreateFontObject({QStringLiteral("Arial"), 9.75f});
    CountingSink sink;
    font->Advise(&sink);
    font->Advise(&sink);
    font->SetBold(true);
    font->SetBold(true);
    font->SetSize(12);
    EXPECT_EQ(font->SetSize(-0.5f), hr::InvalidPropertyValue);
    EXPECT_EQ(font->SetSize(2160.5f), hr::InvalidPropertyValue);
    EXPECT_EQ(font->SetSize(0), hr::Ok);
    EXPECT_EQ(sink.seen, (std::vector<DispId>{fontid::Bold, fontid::Size, fontid::Size}));

    ComPtr<IFontObject> clone;
    font->Clone(clone.Receive());
    clone->SetItalic(true);
    EXPECT_FALSE(font->Description().italic);
    font->Unadvise(&sink);
    font->SetName(QStringLiteral("Courier"));
    EXPECT_EQ(sink.seen.size(), 3u);
}

TEST(FontObject, DrawsAtNinetySixDotsPerInch) {
    EXPECT_EQ(ToQFont({QStringLiteral("Arial"), 9.75f}).pixelSize(), 13);
    EXPECT_EQ(ToQFont({QStringLiteral("Arial"), 0}).pixelSize(), 1);
    QFont widgetFont(QStringLiteral("Liberation Sans"));
    widgetFont.setPointSizeF(8.25);
    widgetFont.setBold(true);
    const FontDescription d = FromQFont(widgetFont);
    EXPECT_EQ(d.size, 8.25f);
    EXPECT_TRUE(d.bold);
}

TEST(Guid, RoundTripsThroughText) {
    const Guid id{0xF98BA2BD, 0x1CE7, 0x4099, {0x92, 0x99, 0x42, 0xCC, 0x16, 0x94, 0x30, 0xF4}};
    EXPECT_EQ(id.ToString(), QStringLiteral("{F98BA2BD-1CE7-4099-9299-42CC169430F4}"));
    EXPECT_EQ(Guid::FromString(QStringLiteral("f98ba2bd-1ce7-4099-9299-42cc169430f4")), id);
    EXPECT_EQ(Guid::FromString(QStringLiteral("{F98BA2BD-1CE7-4099-9299-42CC169430F}")),
              std::nullopt);
    EXPECT_EQ(ErrorText(hr::InvalidPropertyValue),
              QStringLiteral("invalid property value (0x800A017C)"));
}

} // namespace
