#include "app/add_range_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/twips.h"

namespace bw {

namespace {

QFont boldFont(QFont font) {
    font.setBold(true);
    return font;
}

QWidget* panel(QWidget* parent, const TwipScale& scale, double top, double height) {
    auto* p = new QWidget(parent);
    p->setGeometry(scale.rect(0, top, 3195, height));
    return p;
}

}  // namespace

AddRangeDialog::AddRangeDialog(const TwipScale& scale, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      scale_(scale) {
    setObjectName(QStringLiteral("Form1"));
    if (parent)
        setFont(parent->font());  // a window of its own does not inherit it
    setWindowTitle(QStringLiteral("Add New IP Range"));
    setFixedSize(scale.px(3195), scale.px(2595));
    QLineEdit* profileField =
        addField(scale, 0, QStringLiteral("Text1"), QStringLiteral("Profile Name"),
                 QStringLiteral("Evil Corporation"));
    QLineEdit* startField =
        addField(scale, 720, QStringLiteral("Text2"), QStringLiteral("Start of IP Range"),
                 QStringLiteral("1.1.1.1"));
    QLineEdit* endField = addField(scale, 1440, QStringLiteral("Text3"),
                                   QStringLiteral("End of IP Range"), QStringLiteral("2.2.2.2"));
    QWidget* buttonPanel = panel(this, scale, 2160, 435);
    addButton_ = new QPushButton(QStringLiteral("Add This Range"), buttonPanel);
    addButton_->setObjectName(QStringLiteral("Command1"));
    addButton_->setFont(boldFont(addButton_->font()));
    addButton_->setGeometry(scale.rect(0, 0, 3135, 375));
    setTabOrder(profileField, startField);
    setTabOrder(startField, endField);
    setTabOrder(endField, addButton_);
    connect(addButton_, &QPushButton::clicked, this, [this, profileField, startField, endField] {
        emit addRequested(profileField->text(), startField->text(), endField->text());
    });
    for (QLineEdit* field : {profileField, startField, endField})
        connect(field, &QLineEdit::returnPressed, addButton_, &QPushButton::click);
    refusal_ = new QLabel(this);
    refusal_->setObjectName(QStringLiteral("refusalText"));
    refusal_->setWordWrap(true);
    refusal_->setGeometry(scale.rect(60, 2640, 3075, 600));
    refusal_->hide();
}

void AddRangeDialog::showRefusal(const QString& text) {
    refusal_->setText(text);
    refusal_->show();
    setFixedSize(scale_.px(3195), scale_.px(3300));
}

void AddRangeDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void AddRangeDialog::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}

QLineEdit* AddRangeDialog::addField(const TwipScale& scale, int panelTop, const QString& objectName,
                                    const QString& caption, const QString& text) {
    QWidget* p = panel(this, scale, panelTop, 675);
    auto* label = new QLabel(caption, p);
    label->setGeometry(scale.rect(60, 0, 3015, 255));
    auto* field = new QLineEdit(text, p);
    field->setObjectName(objectName);
    field->setFont(boldFont(field->font()));
    field->setGeometry(scale.rect(60, 240, 3015, 315));
    return field;
}

void AddRangeDialog::setAddEnabled(bool enabled) {
    addButton_->setEnabled(enabled);
}

}  // namespace bw
