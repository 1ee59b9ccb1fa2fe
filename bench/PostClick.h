#pragma once

class QWidget;

// Queues a left-button press and release at the middle of `widget`, as the
// window system delivers a click: handled when the event loop comes round,
// so a benchmark can time how long the click waits and takes.
void postClick(QWidget *widget);
