#include "app/decoration/ProductInfo.h"

QPixmap ProgramIconPixmap() {
    return QPixmap(QStringLiteral(":/quillory/quillory.png"));
}

QIcon ProgramIcon() {
    return QIcon(ProgramIconPixmap());
}
