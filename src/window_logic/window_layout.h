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
    TwipBox picture4;  // status view
    TwipBox picture3;  // ranges view
    TwipBox text2;     // log box
    TwipBox picture2;  // option panels
    TwipBox picture5;
    TwipBox picture11;
    TwipBox list1;
    TwipBox picture1;  // button bar
    TwipBox command1;
    TwipBox command2;
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
