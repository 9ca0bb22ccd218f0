// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving and loading the gauge's stored properties: which entries a save writes, what a load
// applies and in which order, and bags with bad entries.
#include "GaugeTestSupport.h"
#include "MainWindowLayout.h"
#include "platform/control/OmbrelIds.h"

#include <gtest/gtest.h>

using namespace gaugetest;
namespace dispid = platform::control::ombrel::dispid;

namespace {

const FontDescription Ambient = Font("Liberation Serif", 8);

ComPtr<PropertyBag> SaveOf(const OmbrelGauge& gauge, IControlSite* site) {
    auto bag = PropertyBag::Create();
    EXPECT_EQ(gauge.Save(*bag, site), hr::Ok);
    return bag;
}

std::int32_t I4(const Variant& v) {
    std::int32_t n = 0;
    EXPECT_EQ(v.ToI4(&n), hr::Ok);
    return n;
}

TEST(GaugePersistence, NewControlSavesOnlyWhatDiffersFromTheBagDefaults) {
    OmbrelGauge gauge;
    gauge.InitNew();
    const auto site = RecordingSite::Create(Ambient);
    const auto bag = SaveOf(gauge, site.Get());
    EXPECT_EQ(bag->Names(), (QStringList{"BackColor", "FontUnderline", "FontSize", "FontName",
                                         "Font", "PercentColor", "ProgressColor", "BorderColor"}));
    EXPECT_EQ(I4(bag->Get("BackColor")), 0x00C0FFFF);
    EXPECT_EQ(bag->Get("BackColor").Type(), VarType::I4);
    EXPECT_EQ(I4(bag->Get("FontUnderline")), -1);
    EXPECT_EQ(bag->Get("FontUnderline").Type(), VarType::Bool);
    EXPECT_EQ(bag->Get("FontSize").Type(), VarType::R4);
    QString name;
    bag->Get("FontName").ToString(&name);
    EXPECT_EQ(name, QStringLiteral("Arial"));
    EXPECT_EQ(I4(bag->Get("PercentColor")), 0x000000FF);
    EXPECT_EQ(I4(bag->Get("ProgressColor")), 0x0000FF00);
    EXPECT_EQ(I4(bag->Get("BorderColor")), 0x00008000);

    // The stored font is a copy of the text's font.
    ComPtr<IFontObject> stored;
    bag->Get("Font").ToObject(IFontObject::Iid, reinterpret_cast<void**>(stored.Receive()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Description(), Font("Arial", 9.75f, false, true));
    EXPECT_NE(stored.Get(), gauge.Font().Get());

    // With the text's own font as ambient font, "Font" is left out as well.
    const auto same = RecordingSite::Create(Font("Arial", 9.75f, false, true));
    EXPECT_FALSE(SaveOf(gauge, same.Get())->Contains("Font"));
}

TEST(GaugePersistence, SaveAndLoadRoundTrip) {
    auto original = NewGauge({345, 21});
    original->SetValue(37);
    original->SetBorderWidth(2);
    original->SetFontBold(true);
    original->SetFadeInColor(0x00102030);
    original->SetFadeEnabled(true);
    const auto site = RecordingSite::Create(Ambient);
    const auto bag = SaveOf(*original, site.Get());
    EXPECT_TRUE(bag->Contains("PercentVisible")); // hidden by NewGauge, so written

    OmbrelGauge copy;
    copy.Resize({345, 21});
    ASSERT_EQ(copy.Load(*bag, site.Get()), hr::Ok);
    EXPECT_EQ(copy.Value(), 37);
    EXPECT_EQ(copy.BorderWidth(), 2);
    EXPECT_TRUE(copy.FontBold());
    EXPECT_FALSE(copy.PercentVisible());
    EXPECT_EQ(copy.FadeInColor(), 0x00102030u);
    EXPECT_TRUE(copy.FadeEnabled());
    EXPECT_EQ(copy.Render(), original->Render());
    EXPECT_EQ(SaveOf(copy, site.Get())->Names(), bag->Names());
}

TEST(GaugePersistence, LoadBypassesTheSettersButPicture) {
    OmbrelGauge gauge;
    const auto site = RecordingSite::Create(Ambient);
    gauge.onChanged = [&site](DispId id) { site->OnChanged(id); };
    gauge.Resize({345, 21});
    auto bag = PropertyBag::Create();
    bag->Write("Value", Variant::I2(150));
    bag->Write("ProgressColor", Variant::I4(0x00FF0000));
    ASSERT_EQ(gauge.Load(*bag, site.Get()), hr::Ok);
    EXPECT_EQ(site->changes, std::vector<DispId>{dispid::Picture});

    // Unclamped: the text reads 150% and the bar runs over the border to the edge.
    EXPECT_EQ(gauge.Value(), 150);
    EXPECT_EQ(gauge.PercentLabel().Caption(), QStringLiteral("150%"));
    EXPECT_EQ(gauge.Bar().Rect().width, 343 * 1.5);
    gauge.SetPercentVisible(false);
    const QImage image = gauge.Render();
    EXPECT_EQ(Pixel(image, 344, 10), QColor(0, 0, 255));
    EXPECT_EQ(Pixel(image, 344, 0), Colour(0x80000008)); // the border's top row stays
}

TEST(GaugePersistence, WithoutFontTheAmbientFontWins) {
    OmbrelGauge gauge;
    const auto site = RecordingSite::Create(Ambient);
    auto bag = PropertyBag::Create();
    bag->Write("FontName", Variant::String("Liberation Mono"));
    bag->Write("FontSize", Variant::R4(30));
    ASSERT_EQ(gauge.Load(*bag, site.Get()), hr::Ok);
    EXPECT_EQ(gauge.Font()->Description(), Ambient);
}

TEST(GaugePersistence, StoredFontWinsOverTheSingleEntries) {
    OmbrelGauge gauge;
    const auto site = RecordingSite::Create(Ambient);
    auto bag = PropertyBag::Create();
    bag->Write("FontName", Variant::String("Liberation Mono"));
    bag->Write("FontBold", Variant::Bool(false));
    bag->Write("Font", Variant::Object(CreateFontObject(Font("Arial", 12, true)).Get()));
    ASSERT_EQ(gauge.Load(*bag, site.Get()), hr::Ok);
    EXPECT_EQ(gauge.FontName(), QStringLiteral("Arial"));
    EXPECT_EQ(gauge.FontSize(), 12.0f); // not the size 0 of the missing "FontSize"
    EXPECT_TRUE(gauge.FontBold());
}

TEST(GaugePersistence, MainWindowLayoutLoadsAsWhiteGradientWithRedText) {
    OmbrelGauge gauge;
    gauge.Resize({345, 21});
    const auto site = RecordingSite::Create(Ambient);
    ASSERT_EQ(gauge.Load(*MainWindowLayout(), site.Get()), hr::Ok);
    EXPECT_EQ(gauge.BackColor(), 0x00FFFFFFu);
    EXPECT_TRUE(gauge.FadeEnabled());
    EXPECT_EQ(gauge.FadeInColor(), 0x0080C0FFu);
    EXPECT_EQ(gauge.FadeOutColor(), 0x0000C000u);
    EXPECT_EQ(gauge.PercentColor(), 0x000000FFu);
    EXPECT_EQ(gauge.BorderWidth(), 1);
    EXPECT_EQ(gauge.Font()->Description(), Font("Arial", 9.75f));
    EXPECT_EQ(gauge.Value(), 0);

    QImage image = gauge.Render();
    EXPECT_EQ(Pixel(image, 10, 10), QColor(255, 255, 255));
    EXPECT_EQ(Pixel(image, 0, 10), QColor(0x80, 0x80, 0xFF));
    EXPECT_GT(RedPixels(image), 20);
    EXPECT_FALSE(gauge.Bar().Visible());

    gauge.SetValue(30);
    image = gauge.Render();
    EXPECT_EQ(Pixel(image, 10, 1), QColor(255, 192, 128));
}

TEST(GaugePersistence, BadEntriesFallBackAndNeverCrash) {
    const Variant junk[] = {
        Variant::String(QStringLiteral("plenty")),
        Variant::R8(1e300),
        Variant::R8(-1e300),
        Variant::I4(-70000),
        Variant::I4(std::int32_t(0x7FFFFFFF)),
        Variant::Object(CreatePictureObject(QImage()).Get()),
        Variant::Object(nullptr),
        Variant::R8(std::nan("")),
        Variant::I2(-32768),
    };
    const char* names[] = {"Value",          "BackColor",      "BorderWidth",  "FontUnderline",
                           "FontStrikethru", "FontSize",       "FontName",     "FontItalic",
                           "FontBold",       "Font",           "PercentColor", "ProgressColor",
                           "BorderColor",    "PercentVisible", "FadeInColor",  "FadeOutColor",
                           "Picture",        "FadeEnabled"};
    const auto recording = RecordingSite::Create(Ambient);
    for (const Variant& bad : junk) {
        for (IControlSite* site :
             {static_cast<IControlSite*>(nullptr), static_cast<IControlSite*>(recording.Get())}) {
            auto bag = PropertyBag::Create();
            for (const char* name : names)
                bag->Write(QLatin1String(name), bad);
            OmbrelGauge gauge;
            gauge.Resize({120, 20});
            EXPECT_EQ(gauge.Load(*bag, site), hr::Ok);
            EXPECT_FALSE(gauge.Render().isNull());
            gauge.SetValue(40);
            EXPECT_TRUE(gauge::IsValidColour(gauge.BackColor()));
        }
    }
}

TEST(GaugePersistence, EachBadEntryKeepsTheStateBeforeIt) {
    OmbrelGauge gauge;
    gauge.Resize({345, 21});
    auto bag = PropertyBag::Create();
    bag->Write("Value", Variant::R8(1e9));               // overflows 16 bits
    bag->Write("BackColor", Variant::String("white"));   // not a number
    bag->Write("BorderWidth", Variant::I2(-4));          // refused by the shape
    bag->Write("FontSize", Variant::R4(-3));             // refused by the font
    bag->Write("PercentColor", Variant::I4(0x01000000)); // not a colour
    bag->Write("FadeEnabled", Variant::String("True"));  // reads as a boolean
    ASSERT_EQ(gauge.Load(*bag, nullptr), hr::Ok);        // no site: no ambient font
    EXPECT_EQ(gauge.Value(), 0);
    EXPECT_EQ(gauge.BackColor(), 0x00C0FFFFu);
    EXPECT_EQ(gauge.BorderWidth(), 1);
    EXPECT_EQ(gauge.FontSize(), 9.75f);
    EXPECT_EQ(gauge.PercentColor(), 0x000000FFu);
    EXPECT_TRUE(gauge.FadeEnabled());
    EXPECT_EQ(gauge.FontName(), QString()); // the default empty name was applied
}

TEST(GaugePersistence, NegativeStoredValueFailsTheLayoutQuietly) {
    OmbrelGauge gauge;
    gauge.Resize({345, 21});
    auto bag = PropertyBag::Create();
    bag->Write("Value", Variant::I2(-5));
    ASSERT_EQ(gauge.Load(*bag, nullptr), hr::Ok);
    EXPECT_EQ(gauge.Value(), -5);
    EXPECT_EQ(gauge.PercentLabel().Caption(), QStringLiteral("-5%"));
    EXPECT_FALSE(gauge.Bar().Visible());
    EXPECT_EQ(gauge.Refresh(), hr::InvalidPropertyValue); // a bar cannot be narrower than 0
    EXPECT_EQ(gauge.SetValue(20), hr::Ok);
    EXPECT_TRUE(gauge.Bar().Visible());
}

} // namespace
