#pragma once

#include <QString>

class QPlainTextEdit;
class QTextEdit;

// Replaces a text view's whole text as one editing step, puts the caret at the start and
// scrolls it into view.
void SetEditText(QPlainTextEdit* control, const QString& text);
void SetEditText(QTextEdit* control, const QString& text);
