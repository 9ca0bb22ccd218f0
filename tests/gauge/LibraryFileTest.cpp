// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The built library file as a design tool and the registration tool see it: exactly four
// exported functions, the metadata and toolbox bitmap sections, and regctl run on it.
#include "gauge/Resources.h"
#include "platform/control/OmbrelIds.h"
#include "tests/platform/control/RedirectedRegistry.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <cstring>
#include <elf.h>

using namespace platform::control;
namespace ids = platform::control::ombrel;

namespace {

// Just enough of a 64-bit ELF reader to find sections by name and list the dynamic symbols.
class ElfFile {
public:
    explicit ElfFile(const QString& path) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            bytes_ = file.readAll();
    }
    bool Valid() const {
        return bytes_.size() > qsizetype(sizeof(Elf64_Ehdr)) &&
               std::memcmp(bytes_.constData(), ELFMAG, SELFMAG) == 0 &&
               bytes_[EI_CLASS] == ELFCLASS64;
    }
    std::optional<QByteArray> Section(const QByteArray& name) const {
        for (int i = 0; i < header().e_shnum; ++i) {
            if (SectionName(i) == name)
                return contents(section(i));
        }
        return std::nullopt;
    }
    // Names of the functions the library defines in its dynamic symbol table.
    QStringList ExportedFunctions() const {
        QStringList names;
        for (int i = 0; i < header().e_shnum; ++i) {
            const Elf64_Shdr& s = section(i);
            if (s.sh_type != SHT_DYNSYM)
                continue;
            const QByteArray symbols = contents(s);
            const QByteArray strings = contents(section(int(s.sh_link)));
            for (qsizetype at = 0; at + qsizetype(sizeof(Elf64_Sym)) <= symbols.size();
                 at += qsizetype(sizeof(Elf64_Sym))) {
                Elf64_Sym sym;
                std::memcpy(&sym, symbols.constData() + at, sizeof sym);
                if (sym.st_shndx != SHN_UNDEF && ELF64_ST_TYPE(sym.st_info) == STT_FUNC)
                    names << QString::fromLatin1(strings.constData() + sym.st_name);
            }
        }
        names.sort();
        return names;
    }

private:
    const Elf64_Ehdr& header() const {
        return *reinterpret_cast<const Elf64_Ehdr*>(bytes_.constData());
    }
    const Elf64_Shdr& section(int i) const {
        return *reinterpret_cast<const Elf64_Shdr*>(bytes_.constData() + header().e_shoff +
                                                    qsizetype(i) * header().e_shentsize);
    }
    QByteArray contents(const Elf64_Shdr& s) const {
        return bytes_.mid(qsizetype(s.sh_offset), qsizetype(s.sh_size));
    }
    QByteArray SectionName(int i) const {
        const QByteArray names = contents(section(header().e_shstrndx));
        return QByteArray(names.constData() + section(i).sh_name);
    }

    QByteArray bytes_;
};

TEST(LibraryFile, ExportsOnlyTheFourEntries) {
    const ElfFile elf(QStringLiteral(OMBREL_LIBRARY));
    ASSERT_TRUE(elf.Valid());
    EXPECT_EQ(elf.ExportedFunctions(), (QStringList{"DllCanUnloadNow", "DllGetClassObject",
                                                    "DllRegisterServer", "DllUnregisterServer"}));
}

TEST(LibraryFile, CarriesItsVersionBlockAndTypeLibraryFacts) {
    const ElfFile elf(QStringLiteral(OMBREL_LIBRARY));
    ASSERT_TRUE(elf.Valid());
    const std::optional<QByteArray> meta = elf.Section(".ombrel.meta");
    ASSERT_TRUE(meta);
    const QList<QByteArray> entries = meta->split('\0');
    const char* expected[] = {
        "FileVersion=1.00",      "ProductVersion=1.00",
        "Comments=Progress Bar", "OLESelfRegister=",
        "TypeLib.Name=Ombrel",   "TypeLib.HelpString=Ombrel",
        "TypeLib.Version=1.0",   "TypeLib.Locale=0x0409",
        "ToolboxBitmap=30000",   "Class.ProgID=Ombrel.OmbrelGauge",
    };
    for (const char* entry : expected)
        EXPECT_TRUE(entries.contains(QByteArray(entry))) << entry;
    // The four property pages, in this order.
    const qsizetype font = entries.indexOf("PropertyPage.1=StandardFont");
    ASSERT_GE(font, 0);
    EXPECT_EQ(
        entries.mid(font, 4),
        (QList<QByteArray>{"PropertyPage.1=StandardFont", "PropertyPage.2=StandardColor",
                           "PropertyPage.3=StandardPicture", "PropertyPage.4=StandardDataFormat"}));
}

TEST(LibraryFile, MetadataIdsMatchTheIdsHostsAreBuiltWith) {
    EXPECT_EQ(gauge::MetadataValue(QStringLiteral("Class.Id")), ids::ClassId.ToString());
    EXPECT_EQ(gauge::MetadataValue(QStringLiteral("TypeLib.Id")), ids::TypeLibId.ToString());
    EXPECT_EQ(gauge::MetadataValue(QStringLiteral("Interface._OmbrelGauge")),
              ids::DispatchIid.ToString());
    EXPECT_EQ(gauge::MetadataValue(QStringLiteral("Interface.__OmbrelGauge")),
              ids::EventsIid.ToString());
}

TEST(LibraryFile, ToolboxBitmapIsA16By15TrueColourBmp) {
    const ElfFile elf(QStringLiteral(OMBREL_LIBRARY));
    const std::optional<QByteArray> bmp = elf.Section(".ombrel.res.30000");
    ASSERT_TRUE(bmp);
    ASSERT_GT(bmp->size(), 54);
    EXPECT_TRUE(bmp->startsWith("BM"));
    EXPECT_EQ(std::uint8_t((*bmp)[28]), 24); // bits per pixel
    const QImage image = QImage::fromData(*bmp, "BMP");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(16, 15));
    EXPECT_EQ(QColor(image.pixel(1, 4)), QColor(0, 128, 0)); // the frame's top-left corner
    EXPECT_EQ(*bmp, gauge::ToolboxBitmap());
}

class Regctl : public RedirectedRegistry {
protected:
    int Run(const QStringList& arguments, QString* err = nullptr) {
        QProcess tool;
        tool.start(QStringLiteral(REGCTL_PATH), arguments);
        EXPECT_TRUE(tool.waitForFinished(60000));
        if (err)
            *err = QString::fromLocal8Bit(tool.readAllStandardError());
        return tool.exitCode();
    }
};

TEST_F(Regctl, RegistersAndUnregistersALibrary) {
    ClassRegistration e;
    ASSERT_EQ(Run({QStringLiteral(OMBREL_LIBRARY)}), 0);
    ASSERT_EQ(LookupClass(QLatin1String(ids::ProgId), &e), LookupResult::Found);
    EXPECT_EQ(e.libraryPath, QFileInfo(QStringLiteral(OMBREL_LIBRARY)).canonicalFilePath());
    ASSERT_EQ(Run({QStringLiteral("-u"), QStringLiteral(OMBREL_LIBRARY)}), 0);
    EXPECT_EQ(LookupClass(QLatin1String(ids::ProgId), &e), LookupResult::NotRegistered);
}

TEST_F(Regctl, RefusesWhatIsNotAControlLibrary) {
    QString err;
    const QString text = home.filePath(QStringLiteral("notes.txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a library\n");
    file.close();
    EXPECT_EQ(Run({text}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("cannot load"))) << qPrintable(err);
    EXPECT_EQ(Run({home.filePath(QStringLiteral("none.so"))}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("no such file"))) << qPrintable(err);
    EXPECT_EQ(Run({}, &err), 2);
    EXPECT_FALSE(QFileInfo::exists(ControlRegistryPath()));
}

} // namespace
