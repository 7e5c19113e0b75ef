#pragma once

class QWidget;

namespace tulmo {

// The keyboard as operators of the console expect it in every window:
// - Enter or Return on a focused button presses it (name, Tab, password, Enter, Enter starts
//   a shift), without making any button the window's default, so Enter in a field still
//   does what that field does;
// - a text field that stops taking characters at its column's width says so at once, in a
//   tooltip beside it ("Máximo de 20 caracteres"), instead of swallowing keys silently;
// - Tab and Shift+Tab move between fields, memos included: a memo never takes a tab
//   character, so the fields typed after it do not end up inside it;
// - a read-only field takes no Tab stop (a click still selects its text), and takes one
//   again once it is editable.
// Applies to the buttons and fields the window holds when called.
void applyKeyboardHabits(QWidget *window);

} // namespace tulmo
