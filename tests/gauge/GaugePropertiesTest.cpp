// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The gauge's public members through its dispatch interface: ids and descriptions, what each
// put does (clamping, refusals, notifications), and what the getters return afterwards.
#include "GaugeTestSupport.h"
#include "gauge/GaugeObject.h"
#include "platform/control/OmbrelIds.h"
#include "tests/support/Accessibility.h"
#include "tests/support/EventWait.h"

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace gaugetest;
namespace dispid = platform::control::ombrel::dispid;

namespace {

class GaugeProperties : public ::testing::Test {
protected:
    void SetUp() override {
        object = ComPtr<gauge::GaugeObject>::Adopt(new gauge::GaugeObject);
        site = RecordingSite::Create(Font("Liberation Serif", 8));
        object->SetClientSite(site.Get());
        object->SetExtent({345, 21});
        object->InitNew();
    }
    HResult Put(DispId id, const Variant& v) {
        return object->Invoke(id, InvokePropertyPut, &v, 1, nullptr);
    }
    HResult PutRef(DispId id, const Variant& v) {
        return object->Invoke(id, InvokePropertyPutRef, &v, 1, nullptr);
    }
    Variant Get(DispId id) {
        Variant out;
        EXPECT_EQ(object->Invoke(id, InvokePropertyGet, nullptr, 0, &out), hr::Ok) << id;
        return out;
    }
    std::int32_t GetI4(DispId id) {
        std::int32_t n = 0;
        EXPECT_EQ(Get(id).ToI4(&n), hr::Ok);
        return n;
    }
    QImage Render() { return object->Gauge().Render(); }
    const gauge::TextLabel& Text() { return object->Gauge().PercentLabel(); }

    ComPtr<gauge::GaugeObject> object;
    ComPtr<RecordingSite> site;
};

TEST_F(GaugeProperties, MembersAreDescribedInOrderWithTheirIds) {
    ASSERT_EQ(object->MemberCount(), 20);
    MemberDescription first, font, about, last;
    object->DescribeMember(0, &first);
    object->DescribeMember(9, &font);
    object->DescribeMember(17, &about);
    object->DescribeMember(19, &last);
    EXPECT_EQ(first.name, QStringLiteral("Value"));
    EXPECT_EQ(first.id, 0x68030011);
    EXPECT_EQ(first.type, MemberType::Int16);
    EXPECT_TRUE(first.helpString.isEmpty());
    EXPECT_EQ(font.id, -512);
    EXPECT_EQ(font.kind, MemberKind::PropertyGetPutRef);
    EXPECT_EQ(font.helpString, QStringLiteral("Returns a Font object."));
    EXPECT_EQ(about.id, 0x6003001F);
    EXPECT_EQ(about.kind, MemberKind::Method);
    EXPECT_EQ(last.name, QStringLiteral("FadeEnabled"));
    EXPECT_EQ(last.id, 0x68030000);
    EXPECT_EQ(object->DescribeMember(20, &last), hr::InvalidArgument);

    DispId id = 0;
    EXPECT_EQ(object->GetIdOfName(QStringLiteral("bordercolor"), &id), hr::Ok);
    EXPECT_EQ(id, 0x68030006);
    object->DescribeMember(12, &first);
    EXPECT_EQ(first.helpString, QStringLiteral("Returns/sets the background color used to "
                                               "display text and graphics in an object."));
    EXPECT_EQ(object->GetIdOfName(QStringLiteral("Max"), &id), hr::UnknownName);
}

TEST_F(GaugeProperties, ValueIsClampedAndShownAsText) {
    EXPECT_EQ(Put(dispid::Value, Variant::I2(150)), hr::Ok);
    EXPECT_EQ(GetI4(dispid::Value), 100);
    EXPECT_EQ(Text().Caption(), QStringLiteral("100%"));
    std::int16_t below = -5;
    EXPECT_EQ(Put(dispid::Value, Variant::RefI2(&below)), hr::Ok);
    EXPECT_EQ(GetI4(dispid::Value), 0);
    EXPECT_EQ(Put(dispid::Value, Variant::I2(7)), hr::Ok);
    EXPECT_EQ(GetI4(dispid::Value), 7);
    // A number that is not 16-bit fails before the setter runs.
    EXPECT_EQ(Put(dispid::Value, Variant::I4(70000)), hr::Overflow);
    EXPECT_EQ(Put(dispid::Value, Variant::String(QStringLiteral("half"))), hr::TypeMismatch);
    EXPECT_EQ(GetI4(dispid::Value), 7);
}

TEST_F(GaugeProperties, GettersReturnWhatWasPut) {
    struct Row {
        DispId id;
        Variant value;
    };
    const Row rows[] = {
        {dispid::BackColor, Variant::I4(0x00FFFFFF)},
        {dispid::BorderWidth, Variant::I2(4)},
        {dispid::FontUnderline, Variant::Bool(false)},
        {dispid::FontStrikethru, Variant::Bool(true)},
        {dispid::FontSize, Variant::R4(12.5f)},
        {dispid::FontName, Variant::String(QStringLiteral("Liberation Mono"))},
        {dispid::FontItalic, Variant::Bool(true)},
        {dispid::FontBold, Variant::Bool(true)},
        {dispid::PercentColor, Variant::I4(std::int32_t(0x80000012u))},
        {dispid::ProgressColor, Variant::I4(0x00FF0000)},
        {dispid::BorderColor, Variant::I4(0x00FF8080)},
        {dispid::PercentVisible, Variant::Bool(false)},
        {dispid::FadeInColor, Variant::I4(0x00010203)},
        {dispid::FadeOutColor, Variant::I4(0x00040506)},
        {dispid::FadeEnabled, Variant::Bool(true)},
    };
    for (const Row& r : rows) {
        site->changes.clear();
        ASSERT_EQ(Put(r.id, r.value), hr::Ok) << std::hex << r.id;
        const Variant got = Get(r.id);
        EXPECT_EQ(got.Type(), r.value.Type()) << std::hex << r.id;
        QString a, b;
        got.ToString(&a);
        r.value.ToString(&b);
        EXPECT_EQ(a, b) << std::hex << r.id;
        EXPECT_EQ(site->changes, std::vector<DispId>{r.id}) << std::hex << r.id;
    }
    const auto font = Get(dispid::Font).ObjectPointer();
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(ComPtr<IUnknown>(font).As<IFontObject>()->Description(),
              FontDescription({QStringLiteral("Liberation Mono"), 12.5f, true, true, false, true}));
}

TEST_F(GaugeProperties, RefusedPutsReturnAnErrorAndNotifyNothing) {
    site->changes.clear();
    EXPECT_EQ(Put(dispid::BackColor, Variant::I4(0x12345678)), hr::InvalidPropertyValue);
    EXPECT_EQ(Put(dispid::ProgressColor, Variant::I4(std::int32_t(0x80000019u))),
              hr::InvalidPropertyValue);
    EXPECT_EQ(Put(dispid::FontSize, Variant::R4(-1)), hr::InvalidPropertyValue);
    EXPECT_EQ(Put(dispid::FontSize, Variant::R4(5000)), hr::InvalidPropertyValue);
    EXPECT_EQ(PutRef(dispid::Font, Variant::Object(nullptr)), hr::InvalidPropertyValue);
    EXPECT_EQ(PutRef(dispid::Picture, Variant::I2(3)), hr::TypeMismatch);
    EXPECT_EQ(Put(dispid::Font, Variant::I2(1)), hr::MemberNotFound);
    EXPECT_EQ(PutRef(dispid::Value, Variant::I2(1)), hr::MemberNotFound);
    EXPECT_EQ(Put(dispid::Value, Variant()), hr::Ok); // Empty reads as 0
    const Variant two[] = {Variant::I2(1), Variant::I2(2)};
    EXPECT_EQ(object->Invoke(dispid::Value, InvokePropertyPut, two, 2, nullptr), hr::BadParamCount);
    EXPECT_EQ(object->Invoke(0x12345, InvokePropertyGet, nullptr, 0, nullptr), hr::MemberNotFound);
    EXPECT_EQ(site->changes, std::vector<DispId>{dispid::Value});
    EXPECT_EQ(GetI4(dispid::BackColor), 0x00C0FFFF);
    float size = 0;
    Get(dispid::FontSize).ToR4(&size);
    EXPECT_EQ(size, 9.75f);
}

TEST_F(GaugeProperties, RefusedBorderWidthStillLaysOutAndNotifies) {
    const double centred = Text().Rect().left;
    ASSERT_EQ(Put(dispid::FontSize, Variant::R4(20)), hr::Ok);
    EXPECT_EQ(Text().Rect().left, centred); // a font change does not re-centre
    site->changes.clear();
    for (const std::int16_t refused : {0, -3, 8193}) {
        EXPECT_EQ(Put(dispid::BorderWidth, Variant::I2(refused)), hr::Ok) << refused;
        EXPECT_EQ(GetI4(dispid::BorderWidth), 1) << refused;
    }
    EXPECT_LT(Text().Rect().left, centred); // the layout pass ran
    EXPECT_EQ(site->changes, std::vector<DispId>(3, dispid::BorderWidth));
    EXPECT_EQ(Put(dispid::BorderWidth, Variant::I2(8192)), hr::Ok);
    EXPECT_EQ(GetI4(dispid::BorderWidth), 8192);
}

TEST_F(GaugeProperties, ProgressColorInGradientModeShowsOnlyAfterGradientIsOff) {
    ASSERT_EQ(Put(dispid::FadeEnabled, Variant::Bool(true)), hr::Ok);
    ASSERT_EQ(Put(dispid::PercentVisible, Variant::Bool(false)), hr::Ok);
    const QImage before = Render();
    ASSERT_EQ(Put(dispid::ProgressColor, Variant::I4(0x00FF0000)), hr::Ok);
    EXPECT_EQ(Render(), before);
    ASSERT_EQ(Put(dispid::FadeEnabled, Variant::Bool(false)), hr::Ok);
    EXPECT_EQ(Pixel(Render(), 50, 10), QColor(0, 0, 255));
}

TEST_F(GaugeProperties, PercentVisibleHidesTheTextAtOnceAndForLater) {
    EXPECT_GT(RedPixels(Render()), 20);
    ASSERT_EQ(Put(dispid::PercentVisible, Variant::Bool(false)), hr::Ok);
    EXPECT_EQ(RedPixels(Render()), 0);
    ASSERT_EQ(Put(dispid::Value, Variant::I2(60)), hr::Ok);
    EXPECT_EQ(RedPixels(Render()), 0);
    ASSERT_EQ(Put(dispid::PercentVisible, Variant::Bool(true)), hr::Ok);
    EXPECT_GT(RedPixels(Render()), 20);
}

TEST_F(GaugeProperties, FontIsTheVeryObjectTheTextUses) {
    ComPtr<IFontObject> font;
    Get(dispid::Font).ToObject(IFontObject::Iid, reinterpret_cast<void**>(font.Receive()));
    ASSERT_TRUE(font);
    const double width = Text().Rect().width;
    site->changes.clear();
    font->SetSize(24);
    EXPECT_GT(Text().Rect().width, width);
    float size = 0;
    Get(dispid::FontSize).ToR4(&size);
    EXPECT_EQ(size, 24.0f);

    const auto other = CreateFontObject(Font("Liberation Sans", 6));
    ASSERT_EQ(PutRef(dispid::Font, Variant::Object(other.Get())), hr::Ok);
    EXPECT_EQ(Get(dispid::Font).ObjectPointer(), static_cast<IUnknown*>(other.Get()));
    EXPECT_LT(Text().Rect().width, width);
    const double small = Text().Rect().width;
    font->SetSize(40); // the old font no longer belongs to the text
    EXPECT_EQ(Text().Rect().width, small);
    EXPECT_EQ(site->changes, std::vector<DispId>{dispid::Font});
}

TEST_F(GaugeProperties, PictureShowsUnderTheBarAndIsReturned) {
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(QColor(1, 2, 3));
    const auto picture = CreatePictureObject(image);
    ASSERT_EQ(PutRef(dispid::Picture, Variant::Object(picture.Get())), hr::Ok);
    EXPECT_EQ(Get(dispid::Picture).ObjectPointer(), static_cast<IUnknown*>(picture.Get()));
    const QImage shown = Render();
    EXPECT_EQ(Pixel(shown, 300, 18), QColor(255, 255, 192)); // beyond the picture
    ASSERT_EQ(Put(dispid::Value, Variant::I2(0)), hr::Ok);
    EXPECT_EQ(Pixel(Render(), 5, 18), QColor(1, 2, 3));
    ASSERT_EQ(PutRef(dispid::Picture, Variant::Object(nullptr)), hr::Ok);
    EXPECT_EQ(Get(dispid::Picture).ObjectPointer(), nullptr);
}

TEST_F(GaugeProperties, RefreshLaysOutAndAboutReturnsWhenClosed) {
    ASSERT_EQ(Put(dispid::FontSize, Variant::R4(20)), hr::Ok);
    const double left = Text().Rect().left;
    EXPECT_EQ(object->Invoke(dispid::Refresh, InvokeMethod, nullptr, 0, nullptr), hr::Ok);
    EXPECT_LT(Text().Rect().left, left);

    bool closed = false;
    QTimer::singleShot(0, [&closed] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close();
            closed = true;
        }
    });
    EXPECT_EQ(object->Invoke(dispid::About, InvokeMethod, nullptr, 0, nullptr), hr::Ok);
    EXPECT_TRUE(closed);
    const Variant arg = Variant::I2(1);
    EXPECT_EQ(object->Invoke(dispid::About, InvokeMethod, &arg, 1, nullptr), hr::BadParamCount);
}

// Runs step while the about box is open, then closes the box; false when no box was open.
void WhileAboutBoxIsOpen(bool& ran, std::function<void()> step) {
    QTimer::singleShot(0, [&ran, step] {
        QPointer<QWidget> box = QApplication::activeModalWidget();
        if (!box)
            return;
        ran = true;
        step();
        ASSERT_FALSE(box.isNull()) << "the box went with its host";
        box->close();
    });
}

TEST_F(GaugeProperties, AboutSurvivesItsHostWindowBeingDeleted) {
    auto* host = new QWidget;
    host->resize(400, 100);
    QWidget* window = nullptr;
    ASSERT_EQ(object->CreateWindow(host, QRect(10, 10, 345, 21), &window), hr::Ok);
    host->show();
    bool ran = false;
    WhileAboutBoxIsOpen(ran, [host] { delete host; });
    EXPECT_EQ(object->Invoke(dispid::About, InvokeMethod, nullptr, 0, nullptr), hr::Ok);
    EXPECT_TRUE(ran);
    EXPECT_EQ(Put(dispid::Value, Variant::I2(30)), hr::Ok) << "the control works on";
}

TEST_F(GaugeProperties, AboutKeepsTheControlAliveUntilItReturns) {
    auto* host = new QWidget;
    QWidget* window = nullptr;
    ASSERT_EQ(object->CreateWindow(host, QRect(0, 0, 345, 21), &window), hr::Ok);
    gauge::GaugeObject* control = object.Get();
    const long alive = platform::control::ModuleObjectCount();
    long duringCall = 0;
    bool ran = false;
    WhileAboutBoxIsOpen(ran, [&] {
        object.Reset(); // the caller's last reference
        duringCall = platform::control::ModuleObjectCount();
    });
    EXPECT_EQ(control->Invoke(dispid::About, InvokeMethod, nullptr, 0, nullptr), hr::Ok);
    ASSERT_TRUE(ran);
    EXPECT_EQ(duringCall, alive) << "released while the call still runs";
    EXPECT_LT(platform::control::ModuleObjectCount(), alive) << "released once it returned";
    EXPECT_TRUE(host->findChildren<QWidget*>().isEmpty()) << "its window went with it";
    delete host;
}

// A screen reader reads the bar's role, value and range, and its name from the text it shows;
// it is told a change of ten points at once and a smaller one when the second is up.
TEST_F(GaugeProperties, ScreenReadersReadAProgressBarWithItsValue) {
    auto& events = RecordAccessibilityEvents();
    QWidget host;
    QWidget* window = nullptr;
    ASSERT_EQ(object->CreateWindow(&host, QRect(0, 0, 345, 21), &window), hr::Ok);
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(window);
    QAccessibleValueInterface* value = bar->valueInterface();
    EXPECT_EQ(bar->role(), QAccessible::ProgressBar);
    EXPECT_EQ(value->minimumValue().toInt() + value->maximumValue().toInt(), 100);
    EXPECT_EQ(Put(dispid::Value, Variant::I2(62)), hr::Ok);
    EXPECT_EQ(Put(dispid::Value, Variant::I2(63)), hr::Ok);
    EXPECT_EQ(value->currentValue().toInt(), 63);
    EXPECT_EQ(bar->text(QAccessible::Name), "63%");
    const auto told = [&] {
        std::vector<int> values;
        for (const auto& [source, type, v] : events)
            if (source == window && type == QAccessible::ValueChanged)
                values.push_back(v);
        return values;
    };
    EXPECT_EQ(told(), std::vector<int>{62});
    EXPECT_TRUE(WaitUntil([&] { return told() == std::vector<int>{62, 63}; }, 5000));
    EXPECT_EQ(Put(dispid::PercentVisible, Variant::Bool(false)), hr::Ok);
    EXPECT_EQ(bar->text(QAccessible::Name), "") << "no text shown, no name";
}

} // namespace
