#pragma once

#include <QWidget>

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

signals:
    void addRequested(const QString& profile, const QString& start, const QString& end);

private:
    QLineEdit* addField(const TwipScale& scale, int panelTop, const QString& objectName,
                        const QString& caption, const QString& text);

    QPushButton* addButton_ = nullptr;
};

}  // namespace bw
