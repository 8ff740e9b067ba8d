#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

class TSummaryState;

// The summary pane: a read-only view of a TSummaryState that paints only the lines in sight,
// each made into text from its UTF-8 when it is painted. Caret and selection are the state's; the
// view moves them by mouse and keyboard (arrows, Page Up/Down, Home/End, Ctrl+Home/End, with
// Shift to select), selects all, copies to the clipboard, and scrolls in whole lines. Its context
// menu offers Copy and Select All, then the actions added to the view.
class TSummaryView : public QAbstractScrollArea {
    Q_OBJECT
public:
    TSummaryView(TSummaryState& state, QWidget* parent = nullptr);

    // The state has entries added or removed: the scroll range and the picture follow.
    void ContentsChanged();

    // Selects length bytes from position and scrolls so that the selection stands about a
    // third of the view's height below its top edge (never scrolling back up).
    void ShowSelection(qint64 position, qint64 length);
    void EnsureCaretVisible();
    void SetCaret(qint64 position, bool keepAnchor = false);

    qint64 CaretPosition() const;
    qint64 CaretLine() const;
    qint64 FirstVisibleLine() const;
    qint64 LineCount() const;
    // The whole text and the selected text as shown, lines ended by LF.
    QString Text() const;
    QString SelectedText() const;
    void SelectAll();
    void Copy() const;

    // Whether the article of an entry was read: its lines are drawn in a quieter colour.
    std::function<bool(qint64 number)> IsRead;
    // The colour the line's text is drawn in.
    QColor LineColour(qint64 line) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int LineHeight() const;
    int VisibleLines() const;
    void UpdateScrollBars();
    // The x of a byte offset into a line within the content, and the offset of the character
    // boundary nearest an x. Offsets stand on character boundaries.
    int OffsetX(qint64 line, qint64 offset) const;
    qint64 OffsetAt(qint64 line, int x) const;
    qint64 PositionAt(QPoint point) const;
    QString LineText(qint64 line) const;
    // The width of a line: for an ASCII line the advance of each of its characters added up,
    // without laying it out (a little wider than the line drawn, where the font kerns); any
    // other line is measured as a whole.
    int LineWidth(qint64 line);
    // Moves the caret to the line at distance lines, keeping its x where the line allows.
    void MoveLines(qint64 lines, bool keepAnchor);
    qint64 WordEdge(qint64 position, int direction) const;
    bool MoveCaretByKey(QKeyEvent* event);
    void CaretMoved(bool keepColumn);
    void PaintLine(QPainter& painter, qint64 line, const QStaticText& laidOut, int y);

    TSummaryState& state_;
    // The advance of each ASCII character in the view's font; empty until needed.
    std::vector<int> byteAdvance_;
    // The lines painted last, laid out: a wheel notch moves a few lines, and laying out text
    // is most of the cost of painting it.
    QHash<qint64, QStaticText> laidOut_;
    int contentWidth_ = 0;
    // The x the caret keeps over lines of other lengths while moving up and down.
    int desiredX_ = -1;
    bool caretShown_ = true;
    QTimer blink_;
};
