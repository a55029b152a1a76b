#pragma once

#include <QListView>
#include <QStringList>

namespace bw {

// List1: the blocklist lines, and a target for blocklist files dropped from a
// file manager. A drop that carries no local files is ignored.
class BanListView : public QListView {
    Q_OBJECT
public:
    explicit BanListView(QWidget* parent = nullptr);

signals:
    // Delivered after the drop has completed, so the source is not kept
    // waiting while the files are imported.
    void filesDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// The local file paths a drop carries, in the order given.
QStringList localFilesOf(const class QMimeData* data);

}  // namespace bw
