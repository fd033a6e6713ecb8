#pragma once
// What the window's files share to place controls: the window sits at fixed places in its panels.
#include <QFont>
#include <QLabel>

#include "platform/qt/QtText.h"

namespace tarnwick::layout {

constexpr int ClientWidth = 708;
// A row of a server group: label, then its field at FieldLeft.
constexpr int RowHeight = 24;
constexpr int FieldLeft = 122;
constexpr int FieldWidth = 208;
// A field that shares its row with a button, and the button.
constexpr int ShortFieldWidth = 134;
constexpr int RowButtonLeft = 260;
constexpr int RowButtonWidth = 70;
constexpr int GroupWidth = RowButtonLeft + RowButtonWidth + 8;

inline QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top) {
    auto* label = new QLabel(ToQString(text), parent);
    // The layout was made for a narrower Japanese face; a pixel less between characters keeps the
    // longest captions clear of the fields beside them.
    QFont font = label->font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, -1);
    label->setFont(font);
    label->move(left, top);
    label->adjustSize();
    return label;
}

template <typename T>
T* Place(T* control, int left, int top, int width, int height) {
    control->setGeometry(left, top, width, height);
    return control;
}

}  // namespace tarnwick::layout
