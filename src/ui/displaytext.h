#pragma once

#include <QByteArray>
#include <QString>

class QPlainTextEdit;
class TSummaryView;

// Bytes and the text the window shows. Group names are single-byte text in Windows-1252 with
// CR LF line ends; the window's views hold Unicode text with LF line ends. Every conversion
// between the two goes through this pair. Articles are read through their declared charsets
// instead (ui/bodydisplay.h), the settings files as UTF-8 (ui/settingsfiles.h).

// The displayed text of bytes: each byte becomes its Windows-1252 character (the five bytes the
// code page leaves unassigned become the control characters of the same number), and each
// CR LF becomes LF. A lone CR or LF stays as it is.
QString DisplayText(const QByteArray& bytes);

// The bytes of a displayed text: each LF becomes CR LF and each character its Windows-1252
// byte; a character the code page cannot hold becomes "?". DisplayText followed by WireBytes
// gives back every byte string whose LFs all follow a CR.
QByteArray WireBytes(const QString& text);

// The whole text of a pane exactly as it holds it, lines ended by LF. Unlike the view's own
// plain text, no-break spaces stay what they are.
QString PaneText(const QPlainTextEdit* pane);
QString PaneText(const TSummaryView* pane);

// The text selected in a pane, lines ended by LF; empty when nothing is selected.
QString SelectedPaneText(const QPlainTextEdit* pane);

// Text with the blanks and control characters at its end removed.
QString TrimmedEnd(const QString& text);
