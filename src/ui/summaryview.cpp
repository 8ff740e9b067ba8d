#include "ui/summaryview.h"

#include "codec/charsets.h"
#include "ui/summarystate.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>
#include <algorithm>

namespace {

// The room between the frame and the text, as a text document leaves it.
constexpr int kMargin = 4;

constexpr int kAsciiBytes = 0x80;

// The number of UTF-16 units of the character at column: two for a surrogate pair.
qsizetype CharacterUnits(const QString& line, qsizetype column) {
    return line[column].isHighSurrogate() && column + 1 < line.size() ? 2 : 1;
}

} // namespace

TSummaryView::TSummaryView(TSummaryState& state, QWidget* parent)
    : QAbstractScrollArea(parent), state_(state) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    const int flashTime = QApplication::styleHints()->cursorFlashTime();
    if (flashTime > 0) {
        blink_.setInterval(flashTime / 2);
        connect(&blink_, &QTimer::timeout, this, [this] {
            caretShown_ = !caretShown_;
            viewport()->update();
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Geometry

int TSummaryView::LineHeight() const {
    return std::max(1, fontMetrics().height());
}

int TSummaryView::VisibleLines() const {
    return std::max(1, (viewport()->height() - kMargin) / LineHeight());
}

QString TSummaryView::LineText(qint64 line) const {
    return QString::fromUtf8(state_.Line(line));
}

int TSummaryView::LineWidth(qint64 line) {
    const QByteArray bytes = state_.Line(line);
    if (!IsAscii(bytes)) {
        return fontMetrics().horizontalAdvance(QString::fromUtf8(bytes));
    }
    if (byteAdvance_.empty()) {
        const QFontMetrics metrics = fontMetrics();
        for (int byte = 0; byte < kAsciiBytes; ++byte) {
            byteAdvance_.push_back(metrics.horizontalAdvance(QChar(byte)));
        }
    }
    int width = 0;
    for (const char byte : bytes) {
        width += byteAdvance_[static_cast<unsigned char>(byte)];
    }
    return width;
}

int TSummaryView::OffsetX(qint64 line, qint64 offset) const {
    return fontMetrics().horizontalAdvance(QString::fromUtf8(state_.Line(line).left(offset)));
}

qint64 TSummaryView::OffsetAt(qint64 line, int x) const {
    const QFontMetrics metrics = fontMetrics();
    const QString text = LineText(line);
    int left = 0;
    qint64 offset = 0;
    for (qsizetype column = 0; column < text.size();) {
        const qsizetype units = CharacterUnits(text, column);
        const QString character = text.mid(column, units);
        const int width = metrics.horizontalAdvance(character);
        if (x < left + width / 2) {
            return offset;
        }
        left += width;
        offset += character.toUtf8().size();
        column += units;
    }
    return offset;
}

qint64 TSummaryView::PositionAt(QPoint point) const {
    const qint64 line = std::clamp<qint64>(
        FirstVisibleLine() + (point.y() - kMargin) / LineHeight(), 0, state_.LineCount() - 1);
    const int x = point.x() - kMargin + horizontalScrollBar()->value();
    return state_.LineStart(line) + OffsetAt(line, x);
}

void TSummaryView::UpdateScrollBars() {
    // The longest line in bytes stands for the widest, and a wider one painted later widens
    // the range.
    contentWidth_ = std::max(contentWidth_, LineWidth(state_.LongestLine()) + 2 * kMargin);
    const int lines = VisibleLines();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setPageStep(lines);
    vertical->setRange(0, static_cast<int>(std::max<qint64>(0, state_.LineCount() - lines)));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setPageStep(viewport()->width());
    horizontal->setSingleStep(fontMetrics().averageCharWidth());
    horizontal->setRange(0, std::max(0, contentWidth_ - viewport()->width()));
}

void TSummaryView::ContentsChanged() {
    if (state_.Size() == 0) {
        contentWidth_ = 0;
    }
    laidOut_.clear();
    UpdateScrollBars();
    viewport()->update();
}

void TSummaryView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TSummaryView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        contentWidth_ = 0;
        byteAdvance_.clear();
        laidOut_.clear();
        UpdateScrollBars();
    }
}

// ---------------------------------------------------------------------------------------------
// Caret, selection, scrolling

qint64 TSummaryView::CaretPosition() const {
    return state_.Caret();
}

qint64 TSummaryView::CaretLine() const {
    return state_.LineOfPosition(state_.Caret());
}

qint64 TSummaryView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

qint64 TSummaryView::LineCount() const {
    return state_.LineCount();
}

QString TSummaryView::Text() const {
    return QString::fromUtf8(state_.Text());
}

QString TSummaryView::SelectedText() const {
    return QString::fromUtf8(state_.SelectedBytes());
}

void TSummaryView::SelectAll() {
    state_.MoveCaret(0);
    state_.MoveCaret(state_.Size(), true);
    viewport()->update();
}

void TSummaryView::Copy() const {
    if (state_.HasSelection()) {
        QApplication::clipboard()->setText(SelectedText());
    }
}

void TSummaryView::SetCaret(qint64 position, bool keepAnchor) {
    state_.MoveCaret(position, keepAnchor);
    CaretMoved(false);
}

void TSummaryView::CaretMoved(bool keepColumn) {
    if (!keepColumn) {
        desiredX_ = -1;
    }
    caretShown_ = true;
    if (blink_.interval() > 0 && hasFocus()) {
        blink_.start();
    }
    EnsureCaretVisible();
    viewport()->update();
}

void TSummaryView::EnsureCaretVisible() {
    const qint64 line = CaretLine();
    QScrollBar* vertical = verticalScrollBar();
    if (line < vertical->value()) {
        vertical->setValue(static_cast<int>(line));
    } else if (line >= vertical->value() + VisibleLines()) {
        vertical->setValue(static_cast<int>(line - VisibleLines() + 1));
    }
    const int x = OffsetX(line, state_.Caret() - state_.LineStart(line));
    contentWidth_ = std::max(contentWidth_, LineWidth(line) + 2 * kMargin);
    UpdateScrollBars();
    QScrollBar* horizontal = horizontalScrollBar();
    const int room = viewport()->width() - 2 * kMargin;
    if (x < horizontal->value()) {
        horizontal->setValue(x);
    } else if (x > horizontal->value() + room) {
        horizontal->setValue(x - room);
    }
}

void TSummaryView::ShowSelection(qint64 position, qint64 length) {
    const int thirdOfLines = height() / LineHeight() / 3;
    state_.Select(position, length);
    CaretMoved(false);
    const qint64 linesDown = state_.LineOfPosition(position) - FirstVisibleLine() - thirdOfLines;
    if (linesDown > 0) {
        QScrollBar* vertical = verticalScrollBar();
        vertical->setValue(static_cast<int>(vertical->value() + linesDown));
    }
}

void TSummaryView::MoveLines(qint64 lines, bool keepAnchor) {
    const qint64 line = CaretLine();
    if (desiredX_ < 0) {
        desiredX_ = OffsetX(line, state_.Caret() - state_.LineStart(line));
    }
    const qint64 target = std::clamp<qint64>(line + lines, 0, state_.LineCount() - 1);
    state_.MoveCaret(state_.LineStart(target) + OffsetAt(target, desiredX_), keepAnchor);
    CaretMoved(true);
}

qint64 TSummaryView::WordEdge(qint64 position, int direction) const {
    const qint64 size = state_.Size();
    const auto wordAt = [this](qint64 at) { return state_.IsWordCharacterAt(at); };
    const auto wordBefore = [this](qint64 at) {
        return state_.IsWordCharacterAt(state_.PreviousCharacter(at));
    };
    if (direction > 0) {
        while (position < size && wordAt(position)) {
            position = state_.NextCharacter(position);
        }
        while (position < size && !wordAt(position)) {
            position = state_.NextCharacter(position);
        }
    } else {
        while (position > 0 && !wordBefore(position)) {
            position = state_.PreviousCharacter(position);
        }
        while (position > 0 && wordBefore(position)) {
            position = state_.PreviousCharacter(position);
        }
    }
    return position;
}

bool TSummaryView::MoveCaretByKey(QKeyEvent* event) {
    const qint64 caret = state_.Caret();
    const qint64 line = CaretLine();
    const qint64 lineStart = state_.LineStart(line);
    const qint64 lineEnd = lineStart + state_.LineLength(line);
    const bool select = event->modifiers() & Qt::ShiftModifier;
    const auto moveTo = [this, select](qint64 position) {
        state_.MoveCaret(position, select);
        CaretMoved(false);
    };
    const auto is = [event](QKeySequence::StandardKey move, QKeySequence::StandardKey extend) {
        return event->matches(move) || event->matches(extend);
    };
    if (is(QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar)) {
        moveTo(state_.NextCharacter(caret));
    } else if (is(QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar)) {
        moveTo(state_.PreviousCharacter(caret));
    } else if (is(QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord)) {
        moveTo(WordEdge(caret, 1));
    } else if (is(QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord)) {
        moveTo(WordEdge(caret, -1));
    } else if (is(QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine)) {
        MoveLines(1, select);
    } else if (is(QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine)) {
        MoveLines(-1, select);
    } else if (is(QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage)) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() + VisibleLines());
        MoveLines(VisibleLines(), select);
    } else if (is(QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage)) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() - VisibleLines());
        MoveLines(-VisibleLines(), select);
    } else if (is(QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine)) {
        moveTo(lineStart);
    } else if (is(QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine)) {
        moveTo(lineEnd);
    } else if (is(QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument)) {
        moveTo(0);
    } else if (is(QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument)) {
        moveTo(state_.Size());
    } else {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Keyboard and mouse

void TSummaryView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->matches(QKeySequence::Copy)) {
        Copy();
    } else if (!MoveCaretByKey(event)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TSummaryView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    SetCaret(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TSummaryView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        SetCaret(PositionAt(event->position().toPoint()), true);
    }
}

void TSummaryView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const qint64 position = PositionAt(event->position().toPoint());
    qint64 start = position;
    while (start > 0 && state_.IsWordCharacterAt(state_.PreviousCharacter(start))) {
        start = state_.PreviousCharacter(start);
    }
    qint64 end = position;
    while (end < state_.Size() && state_.IsWordCharacterAt(end)) {
        end = state_.NextCharacter(end);
    }
    state_.Select(start, end - start);
    CaretMoved(false);
}

void TSummaryView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy"), this, &TSummaryView::Copy);
    copy->setEnabled(state_.HasSelection());
    menu.addAction(tr("Select All"), this, &TSummaryView::SelectAll);
    // What the window does with the entries follows what the view itself does.
    if (!actions().isEmpty()) {
        menu.addSeparator();
        menu.addActions(actions());
    }
    menu.exec(event->globalPos());
}

void TSummaryView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    CaretMoved(desiredX_ >= 0);
}

void TSummaryView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    viewport()->update();
}

// ---------------------------------------------------------------------------------------------
// Painting

QColor TSummaryView::LineColour(qint64 line) const {
    const qint64 number = state_.EntryNumberOfLine(line);
    if (number > 0 && IsRead && IsRead(number)) {
        return palette().color(QPalette::Disabled, QPalette::Text);
    }
    return palette().color(QPalette::Text);
}

void TSummaryView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int lineHeight = LineHeight();
    const qint64 first = FirstVisibleLine();
    const qint64 last = std::min(state_.LineCount() - 1, first + VisibleLines() + 1);
    const int width = contentWidth_;
    QHash<qint64, QStaticText> laidOut;
    for (qint64 line = first; line <= last; ++line) {
        QStaticText text = laidOut_.value(line);
        if (text.text().isEmpty() && state_.LineLength(line) > 0) {
            text.setTextFormat(Qt::PlainText);
            text.setText(LineText(line));
            text.prepare(QTransform(), font());
        }
        PaintLine(painter, line, text, kMargin + static_cast<int>(line - first) * lineHeight);
        laidOut.insert(line, text);
    }
    laidOut_.swap(laidOut);
    if (contentWidth_ > width) {
        QTimer::singleShot(0, this, [this] { UpdateScrollBars(); });
    }
}

void TSummaryView::PaintLine(QPainter& painter, qint64 line, const QStaticText& laidOut, int y) {
    const QString& text = laidOut.text();
    const int lineHeight = LineHeight();
    const int left = kMargin - horizontalScrollBar()->value();
    const QRect lineRect(left, y, viewport()->width() + horizontalScrollBar()->value(), lineHeight);
    painter.setPen(LineColour(line));
    painter.drawStaticText(left, y, laidOut);

    const qint64 start = state_.LineStart(line);
    const qint64 end = start + state_.LineLength(line);
    const qint64 from = std::max(state_.SelectionStart(), start);
    const qint64 to = std::min(state_.SelectionEnd(), end);
    // A selection that goes on past the line end marks the line end too.
    const bool throughEnd = state_.SelectionEnd() > end && state_.SelectionStart() <= end;
    if (state_.HasSelection() && (from < to || throughEnd)) {
        const int x0 = left + OffsetX(line, from - start);
        const int x1 =
            left + OffsetX(line, to - start) + (throughEnd ? fontMetrics().averageCharWidth() : 0);
        const QRect selected(x0, y, x1 - x0, lineHeight);
        painter.fillRect(selected, palette().color(QPalette::Highlight));
        painter.save();
        painter.setClipRect(selected.intersected(lineRect));
        painter.setPen(palette().color(QPalette::HighlightedText));
        painter.drawStaticText(left, y, laidOut);
        painter.restore();
    }
    const qint64 caret = state_.Caret();
    if (hasFocus() && caretShown_ && caret >= start && caret <= end) {
        const int x = left + OffsetX(line, caret - start);
        painter.fillRect(QRect(x, y, 1, lineHeight), palette().color(QPalette::Text));
    }
    contentWidth_ = std::max(contentWidth_, LineWidth(line) + 2 * kMargin);
}
