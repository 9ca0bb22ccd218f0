// The library's about box, shown by the gauge's About method.
#pragma once

class QWidget;

namespace gauge {

// Shows the about box as a modal window over parent (which may be null) and returns when the
// user closes it.
void ShowAboutBox(QWidget* parent);

} // namespace gauge
