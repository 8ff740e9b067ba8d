#include "ui/summarystate.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"
#include "nntp/qrnntp.h"
#include "search/searchengine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

const QString kReplyPrefix = QStringLiteral("re: ");

// The most entries a listing reserves room for ahead, whatever it expects: the room reserved
// beyond what arrives is never touched, and the bound keeps a wild expectation from reserving
// more than a very large group needs.
constexpr qint64 kMostEntriesReserved = 4000000;

QByteArray EntryMark(qint64 number) {
    return '[' + QByteArray::number(number) + ']';
}

bool IsWildcard(QChar c) {
    return c == u'*' || c == u'?';
}

// A byte that goes on a UTF-8 sequence begun before it.
bool IsContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Appends the UTF-8 of a From or Subject field, its encoded words decoded. Most fields are
// plain ASCII and already are their own text.
void AppendFieldText(QByteArray& text, QByteArrayView value) {
    if (IsAscii(value) && !MayHoldEncodedWords(value)) {
        text.append(value);
    } else {
        text.append(DecodeEncodedWords(value).toUtf8());
    }
}

} // namespace

QByteArray TSummaryState::SummaryEntry(const TPostRecordType& record) {
    return SummaryEntry(record.GetArticleId(), record.GetPrFromAddress(), record.GetPrSubject());
}

QByteArray TSummaryState::SummaryEntry(qint64 number, QByteArrayView from, QByteArrayView subject) {
    QByteArray entry;
    AppendEntry(entry, number, from, subject);
    return entry;
}

void TSummaryState::AppendEntry(QByteArray& text, qint64 number, QByteArrayView from,
                                QByteArrayView subject) {
    // Written straight behind the text: this runs for every summary of a listing.
    std::array<char, std::numeric_limits<qint64>::digits10 + 2> digits{};
    const char* const digitsEnd = std::to_chars(digits.begin(), digits.end(), number).ptr;
    text.append('[').append(QByteArrayView(digits.data(), digitsEnd - digits.data()));
    text.append(QByteArrayView("] From: "));
    AppendFieldText(text, from);
    text.append(QByteArrayView("\n    Subject: "));
    AppendFieldText(text, subject);
    text.append('\n');
}

// ---------------------------------------------------------------------------------------------
// Entries

void TSummaryState::AddEntry(const TPostRecordType& record, QByteArrayView messageId,
                             QByteArrayView references) {
    AddEntry(record.GetArticleId(), record.GetPrFromAddress(), record.GetPrSubject(), messageId,
             references);
}

void TSummaryState::AddEntry(qint64 number, QByteArrayView from, QByteArrayView subject,
                             QByteArrayView messageId, QByteArrayView references) {
    const bool caretAtEnd = caret_ == Size() && anchor_ == Size();
    // The thread order names entries by the numbers kept here.
    const auto kept = static_cast<qint32>(number);
    entryNumbers_.push_back(kept);
    entryFirstLines_.push_back(LineCount() - 1);
    threader_.Add(kept, messageId, references);
    threadOrder_.reset();
    const qint64 offset = Size();
    AppendEntry(text_, number, from, subject);
    IndexLines(offset);
    if (caretAtEnd) {
        caret_ = anchor_ = Size();
    }
}

void TSummaryState::IndexLines(qint64 offset) {
    const char* const data = text_.constData();
    const char* const end = data + text_.size();
    for (const char* p = data + offset; p < end;) {
        const void* const lineEnd = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (lineEnd == nullptr) {
            break;
        }
        p = static_cast<const char*>(lineEnd) + 1;
        const qint64 length = (p - data) - 1 - lineStarts_.back();
        if (length > longestLength_) {
            longestLength_ = length;
            longestLine_ = LineCount() - 1;
        }
        lineStarts_.push_back(p - data);
    }
}

void TSummaryState::Clear(qint64 expectedEntries) {
    // Listing the same large group again then neither maps nor copies its memory anew, while
    // a listing of a million entries followed by a small one gives back what it took.
    if (2 * expectedEntries >= static_cast<qint64>(entryNumbers_.size())) {
        text_.resize(0);
        lineStarts_.resize(1);
        entryNumbers_.clear();
        entryFirstLines_.clear();
        threader_.Clear();
    } else {
        text_ = QByteArray();
        lineStarts_ = {0};
        entryNumbers_ = {};
        entryFirstLines_ = {};
        threader_ = TThreader();
    }
    const auto reserved =
        static_cast<size_t>(std::clamp<qint64>(expectedEntries, 0, kMostEntriesReserved));
    entryNumbers_.reserve(reserved);
    entryFirstLines_.reserve(reserved);
    // Two lines an entry, and the empty one after the last.
    lineStarts_.reserve(2 * reserved + 1);
    threader_.Reserve(static_cast<qsizetype>(reserved));
    threadOrder_.reset();
    laidOrder_ = TOrder::ByNumber;
    threadLaidEntries_ = 0;
    longestLine_ = 0;
    longestLength_ = 0;
    caret_ = anchor_ = 0;
}

QByteArray TSummaryState::Line(qint64 line) const {
    return QByteArray::fromRawData(text_.constData() + LineStart(line), LineLength(line));
}

qint64 TSummaryState::LineLength(qint64 line) const {
    const qint64 end = line + 1 < LineCount() ? LineStart(line + 1) - 1 : Size();
    return end - LineStart(line);
}

qint64 TSummaryState::LineOfPosition(qint64 position) const {
    const auto after = std::upper_bound(lineStarts_.cbegin(), lineStarts_.cend(), position);
    return std::max<qint64>(0, (after - lineStarts_.cbegin()) - 1);
}

qint64 TSummaryState::EntryOfNumber(qint64 number) const {
    const auto found = std::find(entryNumbers_.cbegin(), entryNumbers_.cend(), number);
    return found == entryNumbers_.cend() ? -1 : found - entryNumbers_.cbegin();
}

// ---------------------------------------------------------------------------------------------
// Caret and selection

QByteArray TSummaryState::SelectedBytes() const {
    return text_.mid(SelectionStart(), SelectionEnd() - SelectionStart());
}

void TSummaryState::MoveCaret(qint64 position, bool keepAnchor) {
    caret_ = std::clamp<qint64>(position, 0, Size());
    if (!keepAnchor) {
        anchor_ = caret_;
    }
}

void TSummaryState::Select(qint64 position, qint64 length) {
    MoveCaret(position);
    MoveCaret(position + length, true);
}

qint64 TSummaryState::NextCharacter(qint64 position) const {
    if (position >= Size()) {
        return Size();
    }
    ++position;
    while (position < Size() && IsContinuationByte(text_[position])) {
        ++position;
    }
    return position;
}

qint64 TSummaryState::PreviousCharacter(qint64 position) const {
    if (position <= 0) {
        return 0;
    }
    --position;
    while (position > 0 && IsContinuationByte(text_[position])) {
        --position;
    }
    return position;
}

bool TSummaryState::IsWordCharacterAt(qint64 position) const {
    if (position < 0 || position >= Size()) {
        return false;
    }
    const qint64 end = NextCharacter(position);
    const QString character =
        QString::fromUtf8(text_.constData() + position, static_cast<qsizetype>(end - position));
    const char32_t code = character.size() == 2 ? QChar::surrogateToUcs4(character[0], character[1])
                                                : character[0].unicode();
    return QChar::isLetterOrNumber(code) || code == U'_';
}

QByteArray TSummaryState::EntryNumberAt() const {
    const qint64 number = EntryNumberOfLine(LineOfPosition(SelectionStart()));
    return number > 0 ? QByteArray::number(number) : QByteArray();
}

qint64 TSummaryState::EntryNumberOfLine(qint64 line) const {
    // The empty line after the last line end belongs to no entry.
    if (line + 1 >= LineCount()) {
        return 0;
    }
    const auto after = std::upper_bound(entryFirstLines_.cbegin(), entryFirstLines_.cend(), line);
    if (after == entryFirstLines_.cbegin()) {
        return 0;
    }
    return entryNumbers_[static_cast<size_t>(after - entryFirstLines_.cbegin() - 1)];
}

QByteArray TSummaryState::LastEntryNumber() const {
    return entryNumbers_.empty() ? QByteArray() : QByteArray::number(entryNumbers_.back());
}

std::vector<qint64> TSummaryState::SelectedEntryNumbers() const {
    const qint64 firstLine = LineOfPosition(SelectionStart());
    qint64 lastLine = LineOfPosition(SelectionEnd());
    // A selection that ends at a line's start takes nothing of that line.
    if (HasSelection() && lastLine > firstLine && LineStart(lastLine) == SelectionEnd()) {
        --lastLine;
    }
    std::vector<qint64> numbers;
    const qint64 first = EntryNumberOfLine(firstLine);
    if (first > 0) {
        numbers.push_back(first);
    }
    auto entry = std::upper_bound(entryFirstLines_.cbegin(), entryFirstLines_.cend(), firstLine);
    for (; entry != entryFirstLines_.cend() && *entry <= lastLine; ++entry) {
        numbers.push_back(entryNumbers_[static_cast<size_t>(entry - entryFirstLines_.cbegin())]);
    }
    return numbers;
}

qint64 TSummaryState::NextEntryNumber(qint64 after,
                                      const std::function<bool(qint64)>& wanted) const {
    const auto count = static_cast<qint64>(entryNumbers_.size());
    // Without an entry of its own the search starts at the first entry.
    const qint64 start = EntryOfNumber(after) + 1;
    for (qint64 step = 0; step < count; ++step) {
        const qint32 number = entryNumbers_[static_cast<size_t>((start + step) % count)];
        if (number != after && wanted(number)) {
            return number;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Searching

TSummaryState::TFindResult TSummaryState::FindLine(const QByteArray& findText, bool caseSensitive,
                                                   bool down) {
    // Said before any line is searched: from the last line there may be none to search.
    if (!FindTextCompiles(findText, caseSensitive, TSubjectCoding::Utf8)) {
        return TFindResult::CannotMatch;
    }
    const qint64 step = down ? 1 : -1;
    qint64 line = LineOfPosition(SelectionEnd()) + step;
    if (down && !HasRegexPrefix(findText) && line < LineCount()) {
        line = FirstPlainMatchLine(findText, caseSensitive, line);
        if (LastMatchError) {
            return TFindResult::CannotMatch;
        }
    }
    for (; line >= 0 && line < LineCount(); line += step) {
        if (MatchPatternCase(findText, Line(line), caseSensitive, TSubjectCoding::Utf8)) {
            Select(LineStart(line) + LastMatchStart - 1, LastMatchEnd - LastMatchStart + 1);
            return TFindResult::Found;
        }
        if (LastMatchError) {
            return TFindResult::CannotMatch;
        }
    }
    return TFindResult::NotFound;
}

qint64 TSummaryState::FirstPlainMatchLine(const QByteArray& findText, bool caseSensitive,
                                          qint64 line) const {
    // A plain find text becomes literal characters and ".", which matches no line end, so the
    // first match in the rest of the summary lies within the first line that has one, where
    // it is also that line's own first match. One match over the rest is far cheaper than one
    // per line; the line search then confirms it on that line, and goes on from there should
    // the library's line end convention let "." match a line end after all.
    const qint64 start = LineStart(line);
    const QByteArray rest = QByteArray::fromRawData(text_.constData() + start, Size() - start);
    if (!MatchPatternCase(findText, rest, caseSensitive, TSubjectCoding::Utf8)) {
        return LineCount();
    }
    return LineOfPosition(start + LastMatchStart - 1);
}

bool TSummaryState::Locate(qint64 number) {
    const qint64 entry = EntryOfNumber(number);
    if (entry < 0) {
        return false;
    }
    const qint64 line = entryFirstLines_[static_cast<size_t>(entry)];
    Select(LineStart(line) + IndentOf(line), EntryMark(number).size());
    return true;
}

// ---------------------------------------------------------------------------------------------
// Order

qint64 TSummaryState::IndentOf(qint64 line) const {
    const qint64 start = LineStart(line);
    qint64 end = start;
    while (end < Size() && text_[end] == ' ') {
        ++end;
    }
    return end - start;
}

QByteArrayView TSummaryState::EntryBytes(size_t entry) const {
    const qint64 firstLine = entryFirstLines_[entry];
    const qint64 endLine =
        entry + 1 < entryFirstLines_.size() ? entryFirstLines_[entry + 1] : LineCount() - 1;
    const qint64 start = LineStart(firstLine) + IndentOf(firstLine);
    return QByteArrayView(text_).sliced(start, LineStart(endLine) - start);
}

const QList<TThreadPlace>& TSummaryState::ThreadOrder() {
    if (!threadOrder_) {
        threadOrder_ = threader_.Order();
    }
    return *threadOrder_;
}

std::vector<std::pair<size_t, int>> TSummaryState::ThreadSequence() {
    // The order names numbers; the entries of a number are taken in the order they stand, and
    // each once, should the server have sent a number twice.
    std::vector<size_t> byNumber(entryNumbers_.size());
    std::iota(byNumber.begin(), byNumber.end(), size_t(0));
    const auto byNumberOrder = [this](size_t a, size_t b) {
        return entryNumbers_[a] < entryNumbers_[b];
    };
    // Entries mostly stand in number order already, and a sort costs more than the check.
    if (!std::is_sorted(byNumber.begin(), byNumber.end(), byNumberOrder)) {
        std::stable_sort(byNumber.begin(), byNumber.end(), byNumberOrder);
    }
    std::vector<size_t> taken(byNumber.size(), 0);
    std::vector<std::pair<size_t, int>> sequence;
    sequence.reserve(byNumber.size());
    for (const TThreadPlace& place : ThreadOrder()) {
        const auto first = std::lower_bound(
            byNumber.cbegin(), byNumber.cend(), place.number,
            [this](size_t entry, qint64 number) { return entryNumbers_[entry] < number; });
        const auto slot = static_cast<size_t>(first - byNumber.cbegin());
        sequence.emplace_back(byNumber[slot + taken[slot]++],
                              std::min(place.depth, kMaxDrawnDepth));
    }
    return sequence;
}

std::vector<std::pair<size_t, int>> TSummaryState::NumberSequence() const {
    std::vector<std::pair<size_t, int>> sequence;
    sequence.reserve(entryNumbers_.size());
    for (size_t entry = 0; entry < entryNumbers_.size(); ++entry) {
        sequence.emplace_back(entry, 0);
    }
    std::stable_sort(sequence.begin(), sequence.end(), [this](const auto& a, const auto& b) {
        return entryNumbers_[a.first] < entryNumbers_[b.first];
    });
    return sequence;
}

bool TSummaryState::LayOut(TOrder order) {
    const bool threaded = order == TOrder::ByThread;
    if (order == laidOrder_ && (!threaded || threadLaidEntries_ == entryNumbers_.size())) {
        return false;
    }
    const qint64 selected = EntryNumberOfLine(LineOfPosition(SelectionStart()));
    const bool caretAtEnd = caret_ == Size() && anchor_ == Size();
    LayEntries(threaded ? ThreadSequence() : NumberSequence());
    laidOrder_ = order;
    threadLaidEntries_ = threaded ? entryNumbers_.size() : 0;
    if (caretAtEnd || selected == 0 || !Locate(selected)) {
        caret_ = anchor_ = caretAtEnd ? Size() : 0;
    }
    return true;
}

void TSummaryState::LayEntries(std::vector<std::pair<size_t, int>> sequence) {
    qint64 size = 0;
    for (const auto& [entry, depth] : sequence) {
        size += 2 * depth + EntryBytes(entry).size();
    }
    QByteArray text;
    text.reserve(size);
    std::vector<qint32> numbers;
    numbers.reserve(sequence.size());
    std::vector<qint64> firstLines;
    firstLines.reserve(sequence.size());
    qint64 lines = 0;
    for (const auto& [entry, depth] : sequence) {
        firstLines.push_back(lines);
        const QByteArrayView bytes = EntryBytes(entry);
        text.append(2 * depth, ' ').append(bytes);
        lines += bytes.count('\n');
        numbers.push_back(entryNumbers_[entry]);
    }
    // Given back before the line starts are noted anew: a million entries' worth.
    sequence = {};
    text_ = std::move(text);
    lineStarts_ = {0};
    lineStarts_.reserve(static_cast<size_t>(lines) + 1);
    longestLine_ = longestLength_ = 0;
    IndexLines(0);
    entryNumbers_ = std::move(numbers);
    entryFirstLines_ = std::move(firstLines);
}

std::optional<qint64> TSummaryState::ThreadNeighbour(qint64 number, bool down) {
    const QList<TThreadPlace>& order = ThreadOrder();
    const auto found =
        std::find_if(order.cbegin(), order.cend(),
                     [number](const TThreadPlace& place) { return place.number == number; });
    if (found == order.cend()) {
        return std::nullopt;
    }
    // The thread runs from its first article (depth 0) to the next thread's.
    auto first = found;
    while (first != order.cbegin() && first->depth > 0) {
        --first;
    }
    auto end = found + 1;
    while (end != order.cend() && end->depth > 0) {
        ++end;
    }
    if (end - first == 1) {
        return std::nullopt;
    }
    if (down) {
        return found + 1 < end ? (found + 1)->number : 0;
    }
    return found > first ? (found - 1)->number : 0;
}

// ---------------------------------------------------------------------------------------------
// Article text caches

int TSummaryState::CachedArticleIndex(int number) const {
    for (int i = 0; i < AttachTextCache.Count(); ++i) {
        if (AttachTextCache.Objects(i).toInt() == number) {
            return i;
        }
    }
    return -1;
}

void TSummaryState::CacheArticle(int number, const QByteArray& attachments, const QByteArray& body,
                                 const QByteArray& header) {
    AttachTextCache.AddObject(attachments, number);
    BodyTextCache.AddObject(body, number);
    HeaderTextCache.AddObject(header, number);
}

void TSummaryState::ClearTextCaches() {
    AttachTextCache.Clear();
    BodyTextCache.Clear();
    HeaderTextCache.Clear();
}

void TSummaryState::GroupSelected(const QByteArray& group) {
    if (group != cachedGroup_) {
        ClearTextCaches();
        cachedGroup_ = group;
    }
}

// ---------------------------------------------------------------------------------------------
// Threads and scans

QString TSummaryState::ThreadFindText(const QString& subject) {
    const qsizetype skip =
        subject.left(kReplyPrefix.size()).toLower() == kReplyPrefix ? kReplyPrefix.size() : 0;
    qsizetype first = skip;
    while (first < subject.size() && IsWildcard(subject[first])) {
        ++first;
    }
    qsizetype end = first;
    while (end < subject.size() && !IsWildcard(subject[end])) {
        ++end;
    }
    return subject.mid(first, end - first);
}

void TSummaryState::PrepareThreadSearch(bool down) {
    const qint64 line = LineOfPosition(SelectionEnd());
    const bool firstLine =
        std::binary_search(entryFirstLines_.cbegin(), entryFirstLines_.cend(), line);
    if (down && firstLine && line + 1 < LineCount()) {
        MoveCaret(LineStart(line + 1));
    }
}

bool TSummaryState::ScanCanStep(int number, bool down, int firstArticle, int lastArticle) {
    if (number <= 0) {
        return false;
    }
    return down ? number < lastArticle : firstArticle < number;
}
