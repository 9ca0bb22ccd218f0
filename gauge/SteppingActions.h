// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: LGPL-2.1-or-later

// Qt's AT-SPI bridge offers the actions Increase and Decrease on every object that has a value,
// which tells a screen reader that its user may change it. A progress bar's value is only read.
// Here the bridge's objects get a filter on the accessibility bus that marks the time the bridge
// spends answering a question about actions, and during it the bar shows no value, so that the
// bridge finds nothing to step and the bar offers no action; its role and value stay as they are.
#pragma once

namespace gauge {

// Whether the bridge is answering a question about an object's actions just now.
bool AnsweringActionQuestion();

// Puts the filter in front of the bridge once the bridge is on the bus; until then, and after
// it is in place, it does nothing, so it may be called whenever a reader may be asking.
void HideSteppingActions();

} // namespace gauge
