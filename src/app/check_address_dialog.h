#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QPlainTextEdit;

namespace bw {

// "Check an address": an address or range typed in, and the guard's answer:
// whether it is refused, by which entries, and what lets it through.
class CheckAddressDialog : public QDialog {
    Q_OBJECT
public:
    using Checker = std::function<std::string(const std::string&)>;
    CheckAddressDialog(QWidget* parent, Checker checker);

    void check();
    QString answer() const;

private:
    Checker checker_;
    QLineEdit* field_ = nullptr;
    QPlainTextEdit* answer_ = nullptr;
};

}  // namespace bw
