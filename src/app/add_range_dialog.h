#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace bw {

class TwipScale;

// Form1 "Add New IP Range": a small tool window with the profile name and
// the two addresses of one new range, and the "Add This Range" button.
class AddRangeDialog : public QWidget {
    Q_OBJECT
public:
    AddRangeDialog(const TwipScale& scale, QWidget* parent);

    // While an add runs the button stays pressed once.
    void setAddEnabled(bool enabled);
    // Says below the button why the fields were not added; they keep their text.
    void showRefusal(const QString& text);

signals:
    void addRequested(const QString& profile, const QString& start, const QString& end);
    // Closed by the user or after an add: the next opening starts afresh.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLineEdit* addField(const TwipScale& scale, int panelTop, const QString& objectName,
                        const QString& caption, const QString& text);

    const TwipScale& scale_;
    QPushButton* addButton_ = nullptr;
    QLabel* refusal_ = nullptr;
};

}  // namespace bw
