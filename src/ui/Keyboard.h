#pragma once

class QPainter;
class QRectF;
class QWidget;

// What every window of Idlewatch does for the keyboard.
namespace Keyboard {

// Return and Enter press the focused button, as Space does, in every window of the program
// (widgets react to Space only). Installed once; later calls do nothing.
void pressButtonsOnReturn();

// Orders Tab through the focusable widgets under `root` as they are placed: top to bottom,
// left to right within a line, whatever order they were created in.
void orderTopToBottom(QWidget* root);

// The focus ring the custom controls draw around `rect`: two pixels of the palette's
// highlight, inside a one-pixel line of its base colour so it reads on any fill.
void drawFocusRing(QPainter& painter, const QWidget* widget, const QRectF& rect, double radius);

} // namespace Keyboard
