// The news client's pipelined commands (RFC 3977, section 3.5): several retrieval or listing
// commands sent before their replies are read, the replies then read in the order of the
// commands. A reply read out of order would be taken for another article's, so every reply is
// checked against its command, and whatever ends the work with commands in flight closes the
// connection.
#include "net/protocollog.h"
#include "nntp/nntpwire.h"
#include "nntp/qrnntp.h"
#include "util/finally.h"

#include <algorithm>
#include <deque>

namespace {

// The argument of a command: "17" of "ARTICLE 17".
QByteArray ArgumentOf(const QByteArray& command) {
    return command.mid(command.indexOf(' ') + 1);
}

} // namespace

// The commands sent and not yet answered on one connection, oldest first. While any is in
// flight the client's exchange stays open, so that an error, Abort or a time-out drops the
// connection rather than leave a later reply to be read as the answer to another command.
class TPipeline {
public:
    // Raises the error when the status line just read (LastReply, ReplyCode) does not answer
    // command; answers whether data lines follow it.
    using TReplyCheck = std::function<bool(const QByteArray& command)>;

    TPipeline(TQRNNTP& client, TReplyCheck check) : client_(client), check_(std::move(check)) {}

    int InFlight() const { return static_cast<int>(commands_.size()); }
    const QByteArray& Oldest() const { return commands_.front(); }

    // Sends the commands in one write.
    void Send(const QList<QByteArray>& commands);
    // Reads the status line of the oldest command and checks it; true when data lines follow.
    // A 480 or 412 is answered as Transaction answers it: the replies to the later commands are
    // read and dropped, the oldest goes again through Transaction and the later ones after it.
    bool ReadStatus();
    // Runs read, which reads the data lines of the oldest command's reply.
    void ReadData(const std::function<void()>& read);
    // The oldest command's reply has been read whole.
    void Answered();
    // Reads and drops the replies to every command in flight.
    void DropReplies();

private:
    void ReadStatusLine();
    void SkipData();
    // A reply cut short by the server's close is reported as such, not as an abort.
    void Guarded(const std::function<void()>& read);
    static bool AsksToRepeat(int replyCode) { return replyCode == 480 || replyCode == 412; }

    TQRNNTP& client_;
    TReplyCheck check_;
    std::deque<QByteArray> commands_;
};

void TPipeline::Send(const QList<QByteArray>& commands) {
    if (commands.isEmpty()) {
        return;
    }
    QByteArray lines;
    for (const QByteArray& command : commands) {
        protocollog::Sent(command + "\r\n");
        lines += command + "\r\n";
        commands_.push_back(command);
    }
    client_.exchangeOpen_ = true;
    client_.Write(lines);
}

void TPipeline::ReadStatusLine() {
    Guarded([this] {
        client_.LastReply = client_.ReadLn();
        client_.StatusMessage(1, QString::fromLatin1(client_.LastReply));
        client_.ReplyCode = ReplyCodeOf(client_.LastReply);
    });
}

void TPipeline::Guarded(const std::function<void()>& read) {
    const auto failIfClosed = [this] {
        if (!client_.Connected) {
            client_.FailOutOfStep(
                QStringLiteral("The connection closed before the reply to %1 came whole")
                    .arg(QString::fromLatin1(Oldest())));
        }
    };
    try {
        read();
    } catch (const ESockError&) {
        failIfClosed();
        throw;
    } catch (const EAbortError&) {
        failIfClosed();
        throw;
    }
}

bool TPipeline::ReadStatus() {
    ReadStatusLine();
    if (AsksToRepeat(client_.ReplyCode)) {
        const QList<QByteArray> later(commands_.begin() + 1, commands_.end());
        const QByteArray oldest = Oldest();
        commands_.pop_front();
        DropReplies();
        client_.Transaction(oldest);
        commands_.push_back(oldest);
        client_.exchangeOpen_ = true;
        Send(later);
    }
    return check_(Oldest());
}

void TPipeline::ReadData(const std::function<void()>& read) {
    WithFinally([&] { Guarded(read); },
                [this] {
                    // The readers close the exchange with their reply; more replies follow.
                    client_.exchangeOpen_ = client_.Connected;
                });
}

void TPipeline::Answered() {
    commands_.pop_front();
    client_.exchangeOpen_ = !commands_.empty();
}

void TPipeline::SkipData() {
    TStringList dropped;
    ReadData([&] { client_.ReadDataLines(dropped, {}); });
}

void TPipeline::DropReplies() {
    while (!commands_.empty()) {
        ReadStatusLine();
        if (!AsksToRepeat(client_.ReplyCode) && check_(Oldest())) {
            SkipData();
        }
        Answered();
    }
}

// ---------------------------------------------------------------------------------------------
// Articles

// FetchArticles: up to PipelineDepth articles asked for ahead of the one being reported. An
// article the cache answers takes its place in the queue with its lines, so that the articles
// are reported in the order asked for.
class TArticlePipeline {
public:
    TArticlePipeline(TQRNNTP& client, TQRNNTP::TRetrieval part,
                     const TQRNNTP::TFetchedArticle& onArticle)
        : client_(client), part_(part), onArticle_(onArticle),
          pipeline_(client, [this](const QByteArray& command) { return ReplyFits(command); }) {}

    void Run(const QList<int>& numbers);

private:
    struct TQueued {
        int number;
        bool fromCache;
        TExStringList header;
        TExStringList body;
    };

    const char* Verb() const;
    int ExpectedCode() const;
    // Queues the next articles up to the depth, asking the server for those the cache lacks.
    void Fill(const QList<int>& numbers);
    // Reports the oldest article queued; false once onArticle says to stop.
    bool ReportOldest();
    // The oldest article from the server's reply; false when the server does not have it.
    bool ReadOldest(int number);
    bool ReplyFits(const QByteArray& command);

    TQRNNTP& client_;
    TQRNNTP::TRetrieval part_;
    const TQRNNTP::TFetchedArticle& onArticle_;
    TPipeline pipeline_;
    std::deque<TQueued> queue_;
    int next_ = 0;
};

const char* TArticlePipeline::Verb() const {
    switch (part_) {
    case TQRNNTP::TRetrieval::Header:
        return "HEAD";
    case TQRNNTP::TRetrieval::Body:
        return "BODY";
    case TQRNNTP::TRetrieval::Whole:
        break;
    }
    return "ARTICLE";
}

int TArticlePipeline::ExpectedCode() const {
    switch (part_) {
    case TQRNNTP::TRetrieval::Header:
        return 221;
    case TQRNNTP::TRetrieval::Body:
        return 222;
    case TQRNNTP::TRetrieval::Whole:
        break;
    }
    return 220;
}

void TArticlePipeline::Run(const QList<int>& numbers) {
    for (;;) {
        Fill(numbers);
        if (queue_.empty()) {
            return;
        }
        if (!ReportOldest()) {
            pipeline_.DropReplies();
            return;
        }
    }
}

void TArticlePipeline::Fill(const QList<int>& numbers) {
    const size_t depth = std::max(client_.PipelineDepth, 1);
    QList<QByteArray> commands;
    while (queue_.size() < depth && next_ < numbers.size()) {
        const int number = numbers[next_++];
        client_.requestedArticle_ = number;
        client_.requestedMessageId_.clear();
        client_.requestedPart_ = part_;
        TQueued queued{number, false, {}, {}};
        if (client_.CacheMode != TCacheMode::cmMixed &&
            client_.AnsweredByCache(client_.OnBodyCacheUpdate)) {
            queued.fromCache = true;
            queued.header.Assign(client_.HeaderLines);
            queued.body.Assign(client_.BodyLines);
        } else {
            commands.append(Verb() + QByteArray(" ") + QByteArray::number(number));
        }
        queue_.push_back(std::move(queued));
    }
    // A new connection only between replies: one made with commands in flight would never
    // answer them.
    if (!commands.isEmpty() && pipeline_.InFlight() == 0) {
        client_.CertifyConnect();
    }
    pipeline_.Send(commands);
}

bool TArticlePipeline::ReportOldest() {
    const TQueued oldest = std::move(queue_.front());
    queue_.pop_front();
    client_.requestedArticle_ = oldest.number;
    client_.requestedPart_ = part_;
    bool found = true;
    if (oldest.fromCache) {
        client_.HeaderLines.Assign(oldest.header);
        client_.BodyLines.Assign(oldest.body);
        client_.LastArticleRequested = oldest.number;
        client_.Raise(client_.RetrievedEvent(part_));
    } else {
        found = ReadOldest(oldest.number);
    }
    return !onArticle_ || onArticle_(oldest.number, found);
}

bool TArticlePipeline::ReadOldest(int number) {
    if (!pipeline_.ReadStatus()) {
        const QByteArray command = pipeline_.Oldest();
        pipeline_.Answered();
        if (client_.ReplyCode != 423 && client_.ReplyCode != 430) {
            // Refused for another reason (a 502, say): the replies on their way are read so
            // that the connection stays in step for whatever comes next.
            const QString refusal = QString::fromLatin1(nntpwire::StripLineEnd(client_.LastReply));
            pipeline_.DropReplies();
            throw NNTPError(QStringLiteral("Retreival Failed: %1 was answered \"%2\"")
                                .arg(QString::fromLatin1(command), refusal));
        }
        client_.Raise(client_.OnInvalidArticle);
        return false;
    }
    pipeline_.ReadData([this] {
        switch (part_) {
        case TQRNNTP::TRetrieval::Header:
            client_.ReadHead(QByteArray());
            break;
        case TQRNNTP::TRetrieval::Body:
            client_.ReadBody(QByteArray());
            break;
        case TQRNNTP::TRetrieval::Whole:
            client_.ReadArticleHead();
            client_.ReadArticleBody();
            break;
        }
    });
    pipeline_.Answered();
    if (part_ != TQRNNTP::TRetrieval::Body) {
        client_.HeaderLines.SetValue("ArtId", QByteArray::number(number));
    }
    client_.LastArticleRequested = number;
    if (part_ == TQRNNTP::TRetrieval::Whole) {
        client_.OfferArticleToCache(number);
    }
    client_.Raise(client_.RetrievedEvent(part_));
    return true;
}

bool TArticlePipeline::ReplyFits(const QByteArray& command) {
    const int asked = ArgumentOf(command).toInt();
    const int code = client_.ReplyCode;
    // A refusal is a whole reply of one line.
    if (code >= 400) {
        return false;
    }
    const QString sent = QString::fromLatin1(nntpwire::StripLineEnd(client_.LastReply));
    if (code != ExpectedCode()) {
        client_.FailOutOfStep(
            QStringLiteral("Reply out of step: %1 expects %2 or a refusal; the server sent \"%3\"")
                .arg(QString::fromLatin1(command))
                .arg(ExpectedCode())
                .arg(sent));
    }
    if (nntpwire::ReplyArticleNumber(client_.LastReply) != asked) {
        client_.FailOutOfStep(
            QStringLiteral("Reply out of step: %1 expects %2 %3; the server sent \"%4\"")
                .arg(QString::fromLatin1(command))
                .arg(ExpectedCode())
                .arg(asked)
                .arg(sent));
    }
    return true;
}

void TQRNNTP::FetchArticles(const QList<int>& numbers, TRetrieval part,
                            const TFetchedArticle& onArticle) {
    if (Busy) {
        return;
    }
    Busy = true;
    Canceled = false;
    WithFinally([&] { TArticlePipeline(*this, part, onArticle).Run(numbers); },
                [this] {
                    DropIfExchangeOpen();
                    Busy = false;
                });
}

// ---------------------------------------------------------------------------------------------
// Listing in ranges

bool TQRNNTP::ReadSummariesInRanges(int start,
                                    const std::function<void(const QByteArray& line)>& onDataLine,
                                    int expectedLines) {
    TPipeline pipeline(*this, [this](const QByteArray& command) {
        if (ReplyCode == 224) {
            return true;
        }
        if (ReplyCode <= 299) {
            FailOutOfStep(QStringLiteral("Reply out of step: %1 expects 224 or a refusal; the "
                                         "server sent \"%2\"")
                              .arg(QString::fromLatin1(command),
                                   QString::fromLatin1(nntpwire::StripLineEnd(LastReply))));
        }
        return false;
    });
    BytesRecvd = 0;
    Canceled = false;
    SummaryLines.Clear();
    SummaryLines.Reserve(expectedLines);
    const int depth = std::max(PipelineDepth, 1);
    qint64 nextFirst = start;
    const auto sendRanges = [&] {
        QList<QByteArray> commands;
        for (; nextFirst <= LastArticleNo && pipeline.InFlight() + commands.size() < depth;
             nextFirst += kListingRange) {
            const qint64 last = std::min<qint64>(nextFirst + kListingRange - 1, LastArticleNo);
            commands.append("XOVER " + QByteArray::number(nextFirst) + '-' +
                            QByteArray::number(last));
        }
        pipeline.Send(commands);
    };
    sendRanges();
    while (pipeline.InFlight() > 0) {
        if (!pipeline.ReadStatus()) {
            pipeline.Answered();
            pipeline.DropReplies();
            SummaryLines.Clear();
            return false;
        }
        pipeline.ReadData([&] { ReadDataLines(SummaryLines, onDataLine); });
        pipeline.Answered();
        // One "." line ends the whole listing.
        if (pipeline.InFlight() > 0 || nextFirst <= LastArticleNo) {
            SummaryLines.Delete(SummaryLines.Count() - 1);
        }
        sendRanges();
    }
    return true;
}
