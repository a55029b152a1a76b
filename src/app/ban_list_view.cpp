#include "app/ban_list_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace bw {

QStringList localFilesOf(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

BanListView::BanListView(QWidget* parent) : QListView(parent) {
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);  // lets the view skip measuring every row of a large list
}

void BanListView::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);  // entering is judged as every move is
}

void BanListView::dragMoveEvent(QDragMoveEvent* event) {
    if (localFilesOf(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void BanListView::dropEvent(QDropEvent* event) {
    const QStringList paths = localFilesOf(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [this, paths] { emit filesDropped(paths); });
}

}  // namespace bw
