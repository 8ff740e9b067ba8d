#pragma once

#include <QString>
#include <QtGlobal>

class QPlainTextEdit;
class QTextEdit;
class QWidget;

// Searching the text of a view: the view's text is matched with the search engine, the match
// selected and scrolled to about a third of the view's height.

// A view's tag is its dynamic property "Tag"; views tagged NoQuestionTag never offer to
// search again from the top when a search runs out.
constexpr int NoQuestionTag = 999;
int ControlTag(const QWidget* control);
void SetControlTag(QWidget* control, int tag);

// The number of characters in the view.
qint32 EditTextLength(const QPlainTextEdit* control);
qint32 EditTextLength(const QTextEdit* control);

// Selects length characters from position and scrolls so that the selection stands about a
// third of the view's height below its top edge (never scrolling back up).
void ShowSelection(QPlainTextEdit* control, qint32 position, qint32 length);
void ShowSelection(QTextEdit* control, qint32 position, qint32 length);

// Finds the find text in the view from start (0-based; a start at or past the end searches
// from the beginning), selects the match and answers its position, or -1. Whole word applies
// to plain find texts only. When nothing is found, the user is asked whether to search again
// from the top, unless the view is tagged NoQuestionTag or the find text could not be matched
// at all (LastMatchError, already reported).
qint32 FindInEdit(QPlainTextEdit* control, qint32 start, const QString& findText, bool wholeWord,
                  bool caseSensitive);
qint32 FindInEdit(QTextEdit* control, qint32 start, const QString& findText, bool wholeWord,
                  bool caseSensitive);
