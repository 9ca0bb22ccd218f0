// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/decoration/FieldAccessible.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace {

class FrameAccessible final : public QAccessibleWidget {
public:
    explicit FrameAccessible(QWidget* window)
        : QAccessibleWidget(window, QAccessible::Window) {}
};

// A reader finds a list's value in the item selected in the list that drops down, which Qt
// selects only while that is open; here it stays selected.
void selectShownItem(QComboBox* list) {
    const QModelIndex shown =
        list->model()->index(list->currentIndex(), list->modelColumn(), list->rootModelIndex());
    list->view()->selectionModel()->select(shown, QItemSelectionModel::ClearAndSelect);
}

class ListAccessible final : public QAccessibleWidget {
public:
    explicit ListAccessible(QComboBox* list)
        : QAccessibleWidget(list, QAccessible::ComboBox) {
        selectShownItem(list);
        QObject::connect(list, &QComboBox::currentIndexChanged, list,
                         [list] { selectShownItem(list); });
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return list()->currentText();
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        const auto labels = relations(QAccessible::Label);
        QString name = labels.isEmpty() ? QString() : labels.constFirst().first->text(t);
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        return name;
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = list()->view()->isVisible();
        return s;
    }

    // The items, in the list that drops down.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == list()->view() ? 0 : -1;
    }

    QStringList actionNames() const override {
        return QStringList{showMenuAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != showMenuAction())
            QAccessibleWidget::doAction(name);
        else if (list()->view()->isVisible())
            list()->hidePopup();
        else
            list()->showPopup();
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

class ReadOnlyFieldAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOnlyFieldAccessible(QLineEdit* field)
        : QAccessibleWidget(field, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? field()->text() : QAccessibleWidget::text(t);
    }
    void setText(QAccessible::Text, const QString&) override {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.selectableText = true;
        return s;
    }

    // A control inside the field that is hidden is no part of it for now.
    int childCount() const override { return int(shownChildren().size()); }
    QAccessibleInterface* child(int index) const override {
        const QWidgetList shown = shownChildren();
        return index >= 0 && index < shown.size()
                   ? QAccessible::queryAccessibleInterface(shown[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(shownChildren().indexOf(child->object())) : -1;
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && field()->hasSelectedText()) {
            *start = field()->selectionStart();
            *end = field()->selectionEnd();
        }
    }
    int selectionCount() const override { return field()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { field()->deselect(); }
    void setSelection(int, int start, int end) override {
        field()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return field()->cursorPosition(); }
    void setCursorPosition(int position) override { field()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        return field()->text().mid(start, end - start);
    }
    int characterCount() const override { return int(field()->text().size()); }
    // The field is one line, read from its own end; no reader needs the place of a character.
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint& point) const override {
        return field()->cursorPositionAt(field()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int) override { field()->setCursorPosition(start); }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return QString();
    }

private:
    QLineEdit* field() const { return static_cast<QLineEdit*>(widget()); }
    QWidgetList shownChildren() const {
        QWidgetList shown;
        for (QWidget* child : field()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden())
                shown << child;
        }
        return shown;
    }
};

// Asked once for each class a widget is, the most derived first, ahead of Qt's own factory.
QAccessibleInterface* fieldAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("QWidget")) {
        auto* window = qobject_cast<QWidget*>(object);
        return window && window->windowType() == Qt::Window ? new FrameAccessible(window) : nullptr;
    }
    if (className == QLatin1String("QComboBox")) {
        auto* list = qobject_cast<QComboBox*>(object);
        return list && !list->isEditable() ? new ListAccessible(list) : nullptr;
    }
    if (className == QLatin1String("QLineEdit")) {
        auto* field = qobject_cast<QLineEdit*>(object);
        return field && field->isReadOnly() ? new ReadOnlyFieldAccessible(field) : nullptr;
    }
    return nullptr;
}

} // namespace

void UseFieldAccessibility() {
    static const bool installed = (QAccessible::installFactory(fieldAccessible), true);
    Q_UNUSED(installed);
}
