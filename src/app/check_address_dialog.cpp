#include "app/check_address_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/qt_text.h"

namespace bw {

CheckAddressDialog::CheckAddressDialog(QWidget* parent, Checker checker)
    : QDialog(parent), checker_(std::move(checker)) {
    setWindowTitle(tr("Check an address"));
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("checkAddressField"));
    field_->setPlaceholderText(tr("203.0.113.7, 203.0.113.0-203.0.113.255 or 203.0.113.0/24"));
    auto* button = new QPushButton(tr("Check"), this);
    button->setObjectName(QStringLiteral("checkAddressButton"));
    button->setDefault(true);
    answer_ = new QPlainTextEdit(this);
    answer_->setObjectName(QStringLiteral("checkAddressAnswer"));
    answer_->setReadOnly(true);
    answer_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    connect(button, &QPushButton::clicked, this, &CheckAddressDialog::check);
    connect(field_, &QLineEdit::returnPressed, this, &CheckAddressDialog::check);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Address or range:"), this));
    row->addWidget(field_, 1);
    row->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(answer_, 1);
    layout->addWidget(close);
    resize(520, 260);
}

void CheckAddressDialog::check() {
    answer_->setPlainText(textFromBytes(checker_(bytesFromText(field_->text()))));
}

QString CheckAddressDialog::answer() const {
    return answer_->toPlainText();
}

}  // namespace bw
