#pragma once

// A label for text that may come from a disk (names, labels, descriptions): never rich
// text, and selectable so that it can be copied.

#include <QLabel>

namespace duzez::ui {

inline QLabel* PlainLabel(const QString& text, QWidget* parent, bool wrap = false) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(wrap);
    return label;
}

}  // namespace duzez::ui
