#pragma once

namespace bw {

// A widget's place in twips, relative to its parent.
struct TwipBox {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const TwipBox&, const TwipBox&) = default;
};

// The main window's widgets that follow the window's size.
struct WindowLayout {
    TwipBox statusView;     // status view
    TwipBox rangesView;     // ranges view
    TwipBox logView;        // log box
    TwipBox blockingPanel;  // option panels
    TwipBox fullLogPanel;
    TwipBox startHiddenPanel;
    TwipBox banList;
    TwipBox buttonBar;  // button bar
    TwipBox addButton;
    TwipBox removeButton;
    friend bool operator==(const WindowLayout&, const WindowLayout&) = default;
};

// The widgets as the window creates them.
WindowLayout designLayout();

// Lays the widgets out for the window's outer size in twips (frame and caption
// included). Each size is assigned on its own; one a widget cannot take (a
// negative one) is skipped and that widget keeps its previous size, which a
// later rule may still read.
WindowLayout applyResizeRules(WindowLayout layout, double outerWidth, double outerHeight);

}  // namespace bw
