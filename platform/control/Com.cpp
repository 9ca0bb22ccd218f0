// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/Com.h"

#include <QRegularExpression>

namespace platform::control {

namespace {

std::atomic<long> liveObjects{0};

} // namespace

RefCount::RefCount() {
    ++liveObjects;
}

RefCount::~RefCount() {
    --liveObjects;
}

long ModuleObjectCount() {
    return liveObjects.load();
}

void ModuleLock(bool lock) {
    if (lock)
        ++liveObjects;
    else
        --liveObjects;
}

QString ErrorText(HResult r) {
    const char* text = "error";
    switch (r) {
    case hr::Ok:
        text = "success";
        break;
    case hr::False:
        text = "success (false)";
        break;
    case hr::NotImplemented:
        text = "not implemented";
        break;
    case hr::NoInterface:
        text = "interface not supported";
        break;
    case hr::Pointer:
        text = "invalid pointer";
        break;
    case hr::Fail:
        text = "unspecified failure";
        break;
    case hr::InvalidArgument:
        text = "invalid argument";
        break;
    case hr::MemberNotFound:
        text = "member not found";
        break;
    case hr::TypeMismatch:
        text = "type mismatch";
        break;
    case hr::UnknownName:
        text = "unknown name";
        break;
    case hr::Overflow:
    case hr::ControlOverflow:
        text = "overflow";
        break;
    case hr::BadParamCount:
        text = "wrong number of arguments";
        break;
    case hr::NoAggregation:
        text = "aggregation not supported";
        break;
    case hr::ClassNotAvailable:
        text = "class not available from this library";
        break;
    case hr::ClassNotRegistered:
        text = "class not registered";
        break;
    case hr::RegistryWrite:
        text = "the control registry could not be written";
        break;
    case hr::SelfRegClass:
        text = "the class could not be registered";
        break;
    case hr::InvalidPropertyValue:
        text = "invalid property value";
        break;
    }
    const QString code = QStringLiteral("%1").arg(std::uint32_t(r), 8, 16, QLatin1Char('0'));
    return QStringLiteral("%1 (0x%2)").arg(QLatin1String(text), code.toUpper());
}

QString Guid::ToString() const {
    QString s = QStringLiteral("{%1-%2-%3-")
                    .arg(data1, 8, 16, QLatin1Char('0'))
                    .arg(data2, 4, 16, QLatin1Char('0'))
                    .arg(data3, 4, 16, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        if (i == 2)
            s += QLatin1Char('-');
        s += QStringLiteral("%1").arg(data4[i], 2, 16, QLatin1Char('0'));
    }
    return (s + QLatin1Char('}')).toUpper();
}

std::optional<Guid> Guid::FromString(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^\\{?([0-9a-fA-F]{8})-([0-9a-fA-F]{4})-([0-9a-fA-F]{4})-([0-9a-fA-F]{4})-"
                       "([0-9a-fA-F]{12})\\}?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    Guid g;
    g.data1 = m.captured(1).toUInt(nullptr, 16);
    g.data2 = std::uint16_t(m.captured(2).toUInt(nullptr, 16));
    g.data3 = std::uint16_t(m.captured(3).toUInt(nullptr, 16));
    const QString tail = m.captured(4) + m.captured(5);
    for (int i = 0; i < 8; ++i)
        g.data4[i] = std::uint8_t(tail.mid(2 * i, 2).toUInt(nullptr, 16));
    return g;
}

} // namespace platform::control
