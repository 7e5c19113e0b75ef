#pragma once

class QWidget;

namespace tulmo {

// The keyboard as operators of the console expect it in every window:
// - Enter or Return on a focused button presses it (name, Tab, password, Enter, Enter starts
//   a shift), without making any button the window's default, so Enter in a field still
//   does what that field does;
// - a text field that stops taking characters at its column's width says so at once, in a
//   tooltip beside it ("Máximo de 20 caracteres"), instead of swallowing keys silently.
// Applies to the buttons and fields the window holds when called.
void applyKeyboardHabits(QWidget *window);

} // namespace tulmo
