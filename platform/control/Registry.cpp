// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "platform/control/Registry.h"

#include "platform/Profile.h"
#include "platform/control/TrustedPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform::control {

namespace {

// Long enough for any path the system can open.
constexpr int ValueRoom = 8192;
// A registry holds a few hundred bytes per class; anything far larger is not one, and reading
// it (once per value looked up) would stall every program that creates a control.
constexpr qint64 MaxRegistryBytes = 1024 * 1024;

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

// Whether the registry at path can be read, and why not.
enum class FileState { Missing, Usable, Unusable };

FileState examine(const QString& path, QString* problem) {
    const QFileInfo info(path);
    if (!info.exists())
        return FileState::Missing;
    if (!info.isFile()) {
        *problem = QStringLiteral("it is not a regular file");
        return FileState::Unusable;
    }
    if (info.size() > MaxRegistryBytes) {
        *problem =
            QStringLiteral("at %1 bytes it is too large for a control registry").arg(info.size());
        return FileState::Unusable;
    }
    // A registry that others can change could send us to any library they choose.
    if (const QString why = WhyNotTrusted(path); !why.isEmpty()) {
        *problem = why;
        return FileState::Unusable;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("it cannot be read (%1)").arg(file.errorString());
        return FileState::Unusable;
    }
    if (file.read(MaxRegistryBytes + 1).contains('\0')) {
        *problem = QStringLiteral("it is not a text file");
        return FileState::Unusable;
    }
    return FileState::Usable;
}

LookupResult lookupIn(const QString& path, const QString& progId, ClassRegistration* out) {
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

QString registryIn(const QString& dataFolder) {
    return QDir::cleanPath(dataFolder) + QStringLiteral("/controls/registry.ini");
}

} // namespace

QString ControlRegistryPath() {
    QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    return registryIn(home);
}

QStringList SystemRegistryPaths() {
    QString folders = qEnvironmentVariable("XDG_DATA_DIRS");
    if (folders.trimmed().isEmpty())
        folders = QStringLiteral("/usr/local/share:/usr/share");
    const QString user = ControlRegistryPath();
    QStringList paths;
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        // Relative entries are invalid in the XDG list: they would depend on where we started.
        if (!QDir::isAbsolutePath(folder))
            continue;
        const QString path = registryIn(folder);
        if (path != user && !paths.contains(path))
            paths.append(path);
    }
    return paths;
}

QString InstalledSystemRegistryPath() {
    return registryIn(QStringLiteral(CONTROL_SYSTEM_DATA_DIR));
}

QString RegistrationTargetPath() {
    const QString chosen = qEnvironmentVariable(RegistrationTargetVariable);
    return chosen.isEmpty() ? ControlRegistryPath() : chosen;
}

HResult RegisterClass(const ClassRegistration& e) {
    const QString path = RegistrationTargetPath();
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
    const QString path = RegistrationTargetPath();
    if (!QFileInfo::exists(path))
        return hr::Ok;
    const bool ok =
        WritePrivateProfileString(progIdSection(progId), std::nullopt, std::nullopt, path) &&
        WritePrivateProfileString(classSection(classId), std::nullopt, std::nullopt, path) &&
        WritePrivateProfileString(typeLibSection(typeLibId), std::nullopt, std::nullopt, path);
    return ok ? hr::Ok : hr::RegistryWrite;
}

Lookup FindClass(const QString& progId, ClassRegistration* out) {
    Lookup unusable;
    bool anyRegistry = false;
    for (const QString& path : QStringList{ControlRegistryPath()} + SystemRegistryPaths()) {
        QString problem;
        const FileState state = examine(path, &problem);
        if (state == FileState::Missing)
            continue;
        anyRegistry = true;
        if (state == FileState::Unusable) {
            if (unusable.registry.isEmpty())
                unusable = {LookupResult::Unreadable, path, problem};
            continue;
        }
        const LookupResult result = lookupIn(path, progId, out);
        if (result != LookupResult::NotRegistered)
            return {result, path, QString()};
    }
    if (!unusable.registry.isEmpty())
        return unusable;
    return {anyRegistry ? LookupResult::NotRegistered : LookupResult::NoRegistry, QString(),
            QString()};
}

} // namespace platform::control
