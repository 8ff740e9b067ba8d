#pragma once

#include "store/threads.h"
#include "util/stringlist.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>
#include <vector>

class TPostRecordType;

// What the article list summary holds and decides, apart from any window: the entries of the
// group listed, a caret and selection over their lines, the line search, the text caches of the
// articles read in the group, and the rules of thread following and scan stepping.
//
// The entries are kept as one run of bytes, each line ended by LF, and the start of every line
// beside it: a summary of a large group has millions of lines, and a view shows a few dozen of
// them at a time. The bytes are UTF-8, the fields' encoded words decoded; a position is a byte
// offset, and the caret and the selection's ends always stand on a character's first byte.
//
// The entries stand by number, as they arrive, or by thread: then each entry's first line is
// indented by its depth in its thread, so that an entry's "[number]" need not start its line.
class TSummaryState {
public:
    enum class TOrder { ByNumber, ByThread };
    // Entries deeper in their thread are drawn at this depth: two blanks per level.
    static constexpr int kMaxDrawnDepth = 16;

    // The two lines of an article's entry, "[number] From: address" and "    Subject: subject",
    // both fields with their encoded words decoded, in UTF-8, each line ended by LF. The line
    // search relies on this form; entries are found by the numbers kept beside the text, never
    // by searching it, since a From or Subject may hold "[7]" or "Subject: " too.
    static QByteArray SummaryEntry(const TPostRecordType& record);
    // The same from the article number and the From and Subject fields as the server sent them.
    static QByteArray SummaryEntry(qint64 number, QByteArrayView from, QByteArrayView subject);

    // Entries. AddEntry appends an article's entry; a caret at the end stays behind it. The
    // Message-ID and References fields are kept for the thread order, their ids only.
    void AddEntry(const TPostRecordType& record, QByteArrayView messageId = {},
                  QByteArrayView references = {});
    void AddEntry(qint64 number, QByteArrayView from, QByteArrayView subject,
                  QByteArrayView messageId = {}, QByteArrayView references = {});
    // Empties the summary for a listing of about expectedEntries. The memory of the last
    // listing is kept when the new one is expected to need at least half of it, and given
    // back otherwise; room for the entries' numbers and line starts is made at once.
    void Clear(qint64 expectedEntries = 0);
    const QByteArray& Text() const { return text_; }
    qint64 Size() const { return text_.size(); }
    // The summary's lines, the empty one after the last line end included.
    qint64 LineCount() const { return static_cast<qint64>(lineStarts_.size()); }
    qint64 LineStart(qint64 line) const { return lineStarts_[static_cast<size_t>(line)]; }
    // The bytes of a line without its line end, a view into the summary.
    QByteArray Line(qint64 line) const;
    qint64 LineLength(qint64 line) const;
    qint64 LineOfPosition(qint64 position) const;
    // The line with the most bytes, for the width of a view.
    qint64 LongestLine() const { return longestLine_; }
    // True when the summary has an entry for the article number.
    bool HasEntry(qint64 number) const { return EntryOfNumber(number) >= 0; }

    // Caret and selection: the selection runs between the anchor and the caret.
    qint64 Caret() const { return caret_; }
    qint64 Anchor() const { return anchor_; }
    qint64 SelectionStart() const { return qMin(anchor_, caret_); }
    qint64 SelectionEnd() const { return qMax(anchor_, caret_); }
    bool HasSelection() const { return anchor_ != caret_; }
    QByteArray SelectedBytes() const;
    // Moves the caret; keepAnchor extends the selection, otherwise it is given up. Positions
    // are kept within the summary.
    void MoveCaret(qint64 position, bool keepAnchor = false);
    void Select(qint64 position, qint64 length);
    // The position of the character after, or before, the one at position: whole UTF-8
    // sequences, within the summary.
    qint64 NextCharacter(qint64 position) const;
    qint64 PreviousCharacter(qint64 position) const;
    // True when the character starting at position is a letter, a digit or "_".
    bool IsWordCharacterAt(qint64 position) const;

    // The article number text of the entry under the selection start, whichever of its lines
    // that is on. Empty on a line of no entry.
    QByteArray EntryNumberAt() const;
    // The article number of the entry the line belongs to; 0 on a line of no entry.
    qint64 EntryNumberOfLine(qint64 line) const;
    // The number text of the last entry; empty when there is none.
    QByteArray LastEntryNumber() const;
    // The numbers of the entries the selection touches, in summary order; without a selection
    // the number of the entry under the caret. Empty on a line of no entry.
    std::vector<qint64> SelectedEntryNumbers() const;
    // The number of the first entry after the entry of article number after (from the first
    // entry when the summary has none for it) that wanted accepts, going round to the entries
    // before; 0 when no entry is accepted.
    qint64 NextEntryNumber(qint64 after, const std::function<bool(qint64)>& wanted) const;

    // Searches line by line from the caret's line, down or up, for the find text (the UTF-8 of
    // the search engine's syntax, matched character by character as Unicode), and selects the
    // first match. The search ends without a match when the find text cannot match at all,
    // wherever the caret is: the engine has said why, and every line would say it again.
    enum class TFindResult { Found, NotFound, CannotMatch };
    TFindResult FindLine(const QByteArray& findText, bool caseSensitive, bool down);
    // Selects the "[number]" that starts the article's entry, after its indentation; false,
    // selecting nothing, when the summary has no entry for it.
    bool Locate(qint64 number);

    // Lays the entries out anew in the order, unless they stand so already: by number, or by
    // thread as TThreader::Order has them, each entry's first line indented two blanks per level
    // of its depth (at most kMaxDrawnDepth levels). The entry under the selection start keeps its
    // "[number]" selected, and a caret behind the last entry stays there. False when nothing
    // had to move.
    bool LayOut(TOrder order);
    // Thread following by References: the number of the article after (down) or before the
    // article number in its thread's order; 0 at the thread's end. nullopt when the summary
    // holds no other article of its thread (or no entry for it).
    std::optional<qint64> ThreadNeighbour(qint64 number, bool down);

    // The first number of the listing; 0 until a list was made. Numbers from it on are opened
    // only when the summary lists them.
    qint32 ListStart = 0;
    bool MayOpen(qint64 number) const { return number < ListStart || HasEntry(number); }

    // Each article read in the current group, one item per article in all three, the article
    // number as the item's value: the attachments pane's text, and the body and header lines
    // exactly as the server sent them, shown again through the same decoding. Emptied when
    // another group is selected.
    TStringList AttachTextCache;
    TStringList BodyTextCache;
    TStringList HeaderTextCache;
    int CachedArticleIndex(int number) const;
    void CacheArticle(int number, const QByteArray& attachments, const QByteArray& body,
                      const QByteArray& header);
    void ClearTextCaches();
    // A group was selected on the server: the caches know articles by number, and a number
    // names another article in another group.
    void GroupSelected(const QByteArray& group);

    // Thread following: the text searched for the thread of an article with this subject, its
    // first "Re: " dropped and only the part before any wildcard character kept.
    static QString ThreadFindText(const QString& subject);
    // Going down from an entry's first line, the thread search starts after the entry's own
    // subject line: the caret moves to the start of the next line.
    void PrepareThreadSearch(bool down);

    // Scan stepping: whether a scan from number can move one article in the direction within
    // the group's first and last numbers.
    static bool ScanCanStep(int number, bool down, int firstArticle, int lastArticle);

private:
    // Appends the entry's two lines to text.
    static void AppendEntry(QByteArray& text, qint64 number, QByteArrayView from,
                            QByteArrayView subject);
    // Notes the line starts and the longest line of the text from offset on.
    void IndexLines(qint64 offset);
    // The blanks before the "[number]" on an entry's first line.
    qint64 IndentOf(qint64 line) const;
    // The entry's bytes, its lines with their line ends, the indentation left out.
    QByteArrayView EntryBytes(size_t entry) const;
    // The entries' indexes and the depths to draw them at, in number or thread order.
    std::vector<std::pair<size_t, int>> NumberSequence() const;
    std::vector<std::pair<size_t, int>> ThreadSequence();
    // Makes the summary of the entries in the sequence, each indented by its depth.
    void LayEntries(std::vector<std::pair<size_t, int>> sequence);
    const QList<TThreadPlace>& ThreadOrder();
    // The index of the first entry of the article number; -1 when there is none.
    qint64 EntryOfNumber(qint64 number) const;
    // The first line from line on that may hold a match of a plain find text.
    qint64 FirstPlainMatchLine(const QByteArray& findText, bool caseSensitive, qint64 line) const;

    // The group whose articles the caches hold.
    QByteArray cachedGroup_;
    QByteArray text_;
    std::vector<qint64> lineStarts_{0};
    // Each entry's article number and first line, in the order the entries were added.
    std::vector<qint32> entryNumbers_;
    std::vector<qint64> entryFirstLines_;
    // Each entry's number, Message-ID and References, in the order the entries were added.
    TThreader threader_;
    // threader_'s order, made when first needed after the last entry was added.
    std::optional<QList<TThreadPlace>> threadOrder_;
    TOrder laidOrder_ = TOrder::ByNumber;
    // The entries there were when last laid out by thread; those added since stand after them.
    size_t threadLaidEntries_ = 0;
    qint64 longestLine_ = 0;
    qint64 longestLength_ = 0;
    qint64 caret_ = 0;
    qint64 anchor_ = 0;
};
