#include "platform/control/Registry.h"

#include "platform/Profile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform::control {

namespace {

// Long enough for any path the system can open.
constexpr int ValueRoom = 8192;

QString progIdSection(const QString& progId) {
    return QStringLiteral("ProgID ") + progId;
}
QString classSection(const Guid& id) {
    return QStringLiteral("CLSID ") + id.ToString();
}
QString typeLibSection(const Guid& id) {
    return QStringLiteral("TypeLib ") + id.ToString();
}

QString read(const QString& section, const QString& key, const QString& path) {
    QString out;
    GetPrivateProfileString(section, key, QString(), out, ValueRoom, path);
    return out;
}

bool write(const QString& section, const QString& key, const QString& value, const QString& path) {
    return WritePrivateProfileString(section, key, value, path) != 0;
}

} // namespace

QString ControlRegistryPath() {
    QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    return home + QStringLiteral("/controls/registry.ini");
}

HResult RegisterClass(const ClassRegistration& e) {
    const QString path = ControlRegistryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return hr::RegistryWrite;
    const QString cls = classSection(e.classId);
    const QString lib = typeLibSection(e.typeLibId);
    const bool ok =
        write(progIdSection(e.progId), QStringLiteral("CLSID"), e.classId.ToString(), path) &&
        write(cls, QStringLiteral("Name"), e.className, path) &&
        write(cls, QStringLiteral("ProgID"), e.progId, path) &&
        write(cls, QStringLiteral("InprocServer"), e.libraryPath, path) &&
        write(cls, QStringLiteral("Version"), e.version, path) &&
        write(cls, QStringLiteral("Control"),
              e.isControl ? QStringLiteral("1") : QStringLiteral("0"), path) &&
        write(cls, QStringLiteral("TypeLib"), e.typeLibId.ToString(), path) &&
        write(lib, QStringLiteral("Name"), e.typeLibName, path) &&
        write(lib, QStringLiteral("HelpString"), e.typeLibHelp, path) &&
        write(lib, QStringLiteral("Version"), e.typeLibVersion, path) &&
        write(lib, QStringLiteral("Locale"),
              QStringLiteral("0x%1").arg(e.typeLibLocale, 4, 16, QLatin1Char('0')), path) &&
        write(lib, QStringLiteral("Path"), e.libraryPath, path);
    return ok ? hr::Ok : hr::RegistryWrite;
}

HResult UnregisterClass(const QString& progId, const Guid& classId, const Guid& typeLibId) {
    const QString path = ControlRegistryPath();
    if (!QFileInfo::exists(path))
        return hr::Ok;
    const bool ok =
        WritePrivateProfileString(progIdSection(progId), std::nullopt, std::nullopt, path) &&
        WritePrivateProfileString(classSection(classId), std::nullopt, std::nullopt, path) &&
        WritePrivateProfileString(typeLibSection(typeLibId), std::nullopt, std::nullopt, path);
    return ok ? hr::Ok : hr::RegistryWrite;
}

LookupResult LookupClass(const QString& progId, ClassRegistration* out) {
    const QString path = ControlRegistryPath();
    if (!QFileInfo::exists(path))
        return LookupResult::NoRegistry;
    const QString clsid = read(progIdSection(progId), QStringLiteral("CLSID"), path);
    if (clsid.isEmpty())
        return LookupResult::NotRegistered;
    const std::optional<Guid> id = Guid::FromString(clsid);
    if (!id)
        return LookupResult::Damaged;
    const QString cls = classSection(*id);
    ClassRegistration e;
    e.progId = progId;
    e.classId = *id;
    e.className = read(cls, QStringLiteral("Name"), path);
    e.libraryPath = read(cls, QStringLiteral("InprocServer"), path);
    e.version = read(cls, QStringLiteral("Version"), path);
    e.isControl = read(cls, QStringLiteral("Control"), path) == QLatin1String("1");
    e.typeLibId = Guid::FromString(read(cls, QStringLiteral("TypeLib"), path)).value_or(Guid{});
    const QString lib = typeLibSection(e.typeLibId);
    e.typeLibName = read(lib, QStringLiteral("Name"), path);
    e.typeLibHelp = read(lib, QStringLiteral("HelpString"), path);
    e.typeLibVersion = read(lib, QStringLiteral("Version"), path);
    e.typeLibLocale = read(lib, QStringLiteral("Locale"), path).toInt(nullptr, 0);
    if (e.libraryPath.isEmpty())
        return LookupResult::Damaged;
    *out = e;
    return LookupResult::Found;
}

} // namespace platform::control
