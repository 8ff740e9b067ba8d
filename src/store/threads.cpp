#include "store/threads.h"

#include <QHash>
#include <algorithm>
#include <bit>
#include <numeric>
#include <utility>

namespace {

// A byte that may stand inside the angle brackets of a Message-ID as this reads them: no blank,
// no control character, no bracket.
bool IsIdByte(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value > ' ' && value != 0x7f && byte != '<' && byte != '>';
}

// The first "<...>" token of the field; empty when it holds none.
QByteArrayView FirstId(QByteArrayView field) {
    qsizetype start = field.indexOf('<');
    while (start >= 0) {
        qsizetype end = start + 1;
        while (end < field.size() && IsIdByte(field[end])) {
            ++end;
        }
        if (end < field.size() && field[end] == '>' && end > start + 1) {
            return field.sliced(start, end + 1 - start);
        }
        start = field.indexOf('<', end);
    }
    return {};
}

// The "<...>" tokens of a References field from the last to the first, the same tokens that
// FirstId finds reading forward.
class TIdsBackwards {
public:
    explicit TIdsBackwards(QByteArrayView field) : field_(field), end_(field.size()) {}

    // The next token before those answered already; empty when there is none.
    QByteArrayView Next() {
        while (end_ > 0) {
            const qsizetype close = field_.first(end_).lastIndexOf('>');
            if (close < 0) {
                break;
            }
            qsizetype open = close - 1;
            while (open >= 0 && IsIdByte(field_[open])) {
                --open;
            }
            if (open >= 0 && field_[open] == '<' && open < close - 1) {
                end_ = open;
                return field_.sliced(open, close + 1 - open);
            }
            // A '>' where the scan stopped may close the token before.
            end_ = open >= 0 && field_[open] == '>' ? open + 1 : std::max<qsizetype>(open, 0);
        }
        end_ = 0;
        return {};
    }

private:
    QByteArrayView field_;
    qsizetype end_;
};

// The position of the first of the Message-IDs added, by id: open addressing over a table of
// twice their count, each slot holding the id's hash beside its position, so that a probe
// reads the id's bytes only when the hashes agree. A group of a million articles probes a
// million times and more, and a slot of eight bytes keeps the table small. idAt answers the id
// of a position.
template <typename IdAt> class TIdPositions {
public:
    TIdPositions(qsizetype count, IdAt idAt)
        : slots_(std::bit_ceil(static_cast<size_t>(2 * count + 2))), idAt_(std::move(idAt)) {}

    // Keeps the first position of each id.
    void Add(QByteArrayView id, qsizetype position) {
        const quint32 hash = HashOf(id);
        size_t slot = SlotOf(id, hash);
        if (slots_[slot].positionAfter == 0) {
            slots_[slot] = {hash, static_cast<quint32>(position + 1)};
        }
    }
    // -1 when the id was not added.
    qsizetype Find(QByteArrayView id) const {
        return static_cast<qsizetype>(slots_[SlotOf(id, HashOf(id))].positionAfter) - 1;
    }

private:
    struct TSlot {
        quint32 hash = 0;
        // The position plus one; 0 for an empty slot.
        quint32 positionAfter = 0;
    };

    static quint32 HashOf(QByteArrayView id) { return static_cast<quint32>(qHash(id)); }
    // The slot of the id, or the empty one where it would go.
    size_t SlotOf(QByteArrayView id, quint32 hash) const {
        const size_t mask = slots_.size() - 1;
        for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const TSlot& held = slots_[slot];
            if (held.positionAfter == 0 ||
                (held.hash == hash && idAt_(held.positionAfter - 1) == id)) {
                return slot;
            }
        }
    }

    std::vector<TSlot> slots_;
    IdAt idAt_;
};

// Cuts every loop of parent links at its lowest position, which starts a thread then. Each
// chain of parents is walked once with a list of its own, never by recursion.
void BreakLoops(std::vector<qsizetype>& parents) {
    enum : char { kUnseen, kOnWalk, kDone };
    std::vector<char> state(parents.size(), kUnseen);
    std::vector<qsizetype> walk;
    for (qsizetype start = 0; start < qsizetype(parents.size()); ++start) {
        walk.clear();
        qsizetype at = start;
        while (at >= 0 && state[at] == kUnseen) {
            state[at] = kOnWalk;
            walk.push_back(at);
            at = parents[at];
        }
        if (at >= 0 && state[at] == kOnWalk) {
            const auto loopStart = std::find(walk.begin(), walk.end(), at);
            parents[*std::min_element(loopStart, walk.end())] = -1;
        }
        for (const qsizetype seen : walk) {
            state[seen] = kDone;
        }
    }
}

} // namespace

void TThreader::Add(qint64 number, QByteArrayView messageId, QByteArrayView references) {
    const QByteArrayView id = FirstId(messageId);
    TRecord record{number, bytes_.size(), static_cast<quint32>(id.size()), 0};
    bytes_.append(id);
    // Only the part from the first '<' to the last '>' can hold a token.
    const qsizetype open = references.indexOf('<');
    const qsizetype close = references.lastIndexOf('>');
    if (open >= 0 && close > open) {
        record.referencesSize = static_cast<quint32>(close + 1 - open);
        bytes_.append(references.sliced(open, record.referencesSize));
    }
    records_.push_back(record);
}

QByteArrayView TThreader::IdOf(const TRecord& record) const {
    return QByteArrayView(bytes_).sliced(record.start, record.idSize);
}

QByteArrayView TThreader::ReferencesOf(const TRecord& record) const {
    return QByteArrayView(bytes_).sliced(record.start + record.idSize, record.referencesSize);
}

std::vector<qsizetype> TThreader::Parents(const std::vector<qsizetype>& byNumber) const {
    const qsizetype count = byNumber.size();
    // Of articles that share a Message-ID, the lowest-numbered is the one replies mean.
    TIdPositions positionOfId(count, [this, &byNumber](qsizetype position) {
        return IdOf(records_[byNumber[position]]);
    });
    for (qsizetype position = 0; position < count; ++position) {
        const QByteArrayView id = IdOf(records_[byNumber[position]]);
        if (!id.isEmpty()) {
            positionOfId.Add(id, position);
        }
    }
    std::vector<qsizetype> parents(count, -1);
    for (qsizetype position = 0; position < count; ++position) {
        TIdsBackwards ancestors(ReferencesOf(records_[byNumber[position]]));
        for (QByteArrayView id = ancestors.Next(); !id.isEmpty(); id = ancestors.Next()) {
            const qsizetype found = positionOfId.Find(id);
            if (found >= 0 && found != position) {
                parents[position] = found;
                break;
            }
        }
    }
    return parents;
}

QList<TThreadPlace> TThreader::Order() const {
    const qsizetype count = records_.size();
    std::vector<qsizetype> byNumber(count);
    std::iota(byNumber.begin(), byNumber.end(), 0);
    const auto byNumberOrder = [this](qsizetype a, qsizetype b) {
        return records_[a].number < records_[b].number;
    };
    // Summaries mostly arrive in number order already, and a sort costs more than the check.
    if (!std::is_sorted(byNumber.begin(), byNumber.end(), byNumberOrder)) {
        std::stable_sort(byNumber.begin(), byNumber.end(), byNumberOrder);
    }
    std::vector<qsizetype> parents = Parents(byNumber);
    BreakLoops(parents);

    // Each position's replies, in number order, at firstReply[p]..firstReply[p + 1] - 1.
    std::vector<qsizetype> firstReply(count + 1, 0);
    for (const qsizetype parent : parents) {
        if (parent >= 0) {
            ++firstReply[parent + 1];
        }
    }
    std::partial_sum(firstReply.begin(), firstReply.end(), firstReply.begin());
    std::vector<qsizetype> replies(count);
    std::vector<qsizetype> filled(firstReply.begin(), firstReply.end() - 1);
    for (qsizetype position = 0; position < count; ++position) {
        if (parents[position] >= 0) {
            replies[filled[parents[position]]++] = position;
        }
    }

    QList<TThreadPlace> order;
    order.reserve(count);
    std::vector<std::pair<qsizetype, int>> pending;
    for (qsizetype first = 0; first < count; ++first) {
        if (parents[first] >= 0) {
            continue;
        }
        pending.emplace_back(first, 0);
        while (!pending.empty()) {
            const auto [position, depth] = pending.back();
            pending.pop_back();
            order.append({records_[byNumber[position]].number, depth});
            for (qsizetype reply = firstReply[position + 1]; reply-- > firstReply[position];) {
                pending.emplace_back(replies[reply], depth + 1);
            }
        }
    }
    return order;
}
