// The progress bar of the encoding windows: an Ombrel gauge placed from the stored layout they
// share (white, red percentage, green border, Arial 9.75, gradient fill, starting at 0), and the
// one thing the windows change at run time, its Value.
#pragma once

#include "platform/control/ControlHost.h"

#include <QRect>
#include <cstdint>
#include <memory>

class QWidget;

// The bar on parent at geometry (pixels); null when the control cannot be created, with
// *message saying why and how to register it.
std::unique_ptr<platform::control::HostedControl> PlaceEncodingBar(QWidget* parent, QRect geometry,
                                                                   QString* message);

// Puts Value by its dispatch id, as a 16-bit integer by reference. A missing bar is skipped.
void PutBarValue(platform::control::HostedControl* bar, std::int16_t percent);
