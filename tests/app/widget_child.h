#pragma once

#include <QObject>
#include <QString>

namespace bw::test {

// The widget (or action) of that object name below parent; a test that asks
// for one the window does not have stops at once, naming it.
template <class W>
W* child(QObject& parent, const char* name) {
    W* w = parent.findChild<W*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

}  // namespace bw::test
