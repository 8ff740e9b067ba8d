#include "nntp/qrnntp.h"

#include "util/finally.h"

#include <algorithm>
#include <utility>

using nntpwire::StripLineEnd;

namespace {

QByteArray Number(int value) {
    return QByteArray::number(value);
}

// The most summaries a listing reserves room for ahead, whatever count the server announces.
constexpr qint64 kMostSummariesReserved = 4000000;

QString WithTrailingSeparator(const QString& path) {
    return path.isEmpty() || path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

} // namespace

int TSummaryLine::Number() const {
    const QByteArrayView number = Field(nntpwire::kNumberField);
    return nntpwire::StrToIntDef(QByteArray::fromRawData(number.data(), number.size()), 0);
}

int TPostRecordType::GetPrByteCount() const {
    return nntpwire::StrToInt(lines_.GetValue("Bytecount"));
}

int TPostRecordType::GetPrLineCount() const {
    return nntpwire::StrToInt(lines_.GetValue("Lines"));
}

int TPostRecordType::GetArticleId() const {
    return nntpwire::StrToIntDef(lines_.GetValue("ArtID"), 0);
}

TQRNNTP::TQRNNTP(QObject* parent) : TNetwire(parent) {
    Port = 119;
}

void TQRNNTP::SetAttachmentPath(const QString& path) {
    attachFilePath_ = WithTrailingSeparator(path);
}

void TQRNNTP::SetNewsDir(const QString& path) {
    newsDir_ = WithTrailingSeparator(path);
}

void TQRNNTP::Raise(const TNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

const TNotifyEvent& TQRNNTP::RetrievedEvent(TRetrieval part) const {
    switch (part) {
    case TRetrieval::Header:
        return OnHeader;
    case TRetrieval::Body:
        return OnBody;
    case TRetrieval::Whole:
        break;
    }
    return OnArticle;
}

// ---------------------------------------------------------------------------------------------
// Connecting, login, the command cycle

void TQRNNTP::Connect() {
    const bool wasBusy = Busy;
    Busy = true;
    WithFinally([this] { InternalConnect(); },
                [this, wasBusy] {
                    if (!wasBusy) {
                        Busy = false;
                    }
                    if (OnConnect && Connected) {
                        OnConnect(this);
                    }
                });
}

void TQRNNTP::InternalConnect() {
    TNetwire::Connect();
    exchangeOpen_ = false; // whatever the last connection left unread went with it
    compressionAfterLogin_ = false;
    try {
        LastReply = ReadLn();
        ReplyCode = ReplyCodeOf(LastReply);
        StatusMessage(1, QString::fromLatin1(LastReply));
        // A greeting without a reply code comes from something that is no news server.
        if (ReplyCode < 200 || (ReplyCode >= 400 && ReplyCode != 480)) {
            throw ESockError(QStringLiteral("Log in to server failed"));
        }
        const bool loginWanted = (ReplyCode >= 301 && ReplyCode <= 399) || ReplyCode == 480;
        NegotiateSecurity();
        if (loginWanted) {
            Login();
        }
        NegotiateCompression(loginWanted);
    } catch (...) {
        try {
            Disconnect();
        } catch (const std::exception&) {
            // The login failure is what the caller is told.
        }
        throw;
    }
}

void TQRNNTP::Login() {
    if (UserId.isEmpty() || Password.isEmpty()) {
        bool handled = false;
        if (OnAuthenticationNeeded) {
            OnAuthenticationNeeded(handled);
        }
        if (!handled) {
            throw NNTPError(QStringLiteral("Authentication failed"));
        }
    }
    Transaction("USER " + UserId);
    if (ReplyCode >= 400 && ReplyCode != 480) {
        throw ESockError(QStringLiteral("Log in to server failed"));
    }
    if ((ReplyCode >= 301 && ReplyCode <= 399) || ReplyCode == 480) {
        Transaction("PASS " + Password);
    }
    if (ReplyCode >= 300) {
        FailAuthentication();
    }
}

void TQRNNTP::FailAuthentication() {
    Raise(OnAuthenticationFailed);
    throw NNTPError(QStringLiteral("Authentication failed"));
}

bool TQRNNTP::IsAuthenticationRefused() const {
    // RFC 4643: 481 rejects the credentials, 482 an AUTHINFO out of sequence; older servers
    // answer 502.
    return ReplyCode == 502 || ReplyCode == 481 || ReplyCode == 482;
}

QByteArray TQRNNTP::Transaction(const QByteArray& command) {
    Canceled = false;
    bool groupSelectedAgain = false;
    for (;;) {
        QByteArray reply = Exchange(command);
        if (ReplyCode == 480) {
            if (UserId.isEmpty() || Password.isEmpty()) {
                bool handled = false;
                if (OnAuthenticationNeeded) {
                    OnAuthenticationNeeded(handled);
                }
                if (!handled) {
                    FailAuthentication();
                }
            }
            Exchange("AUTHINFO USER " + UserId);
            if (ReplyCode == 381) {
                Exchange("AUTHINFO PASS " + Password);
            }
            if (IsAuthenticationRefused()) {
                FailAuthentication();
            }
            if (compressionAfterLogin_) {
                NegotiateCompression(true);
            }
            reply = Exchange(command);
            if (ReplyCode == 502) {
                FailAuthentication();
            }
        }
        // One new selection of the group per command, the GROUP of that selection included:
        // a server that keeps answering 412 is answered by the caller, not by an endless loop.
        if (ReplyCode != 412 || groupSelectedAgain || selectingGroupAgain_) {
            return reply;
        }
        SelectGroupAgain();
        groupSelectedAgain = true;
    }
}

void TQRNNTP::SelectGroupAgain() {
    if (CurrentGroup.isEmpty() && !OnGroupSelectRequired) {
        throw Exception(QStringLiteral("No Group Selected"));
    }
    bool handled = false;
    if (OnGroupSelectRequired) {
        OnGroupSelectRequired(handled);
    }
    if (!handled && CurrentGroup.isEmpty()) {
        throw Exception(QStringLiteral("No Group Selected"));
    }
    const bool wasBusy = Busy;
    Busy = false;
    selectingGroupAgain_ = true;
    WithFinally([this] { SetGroup(CurrentGroup); },
                [this, wasBusy] {
                    Busy = wasBusy;
                    selectingGroupAgain_ = false;
                });
}

QByteArray TQRNNTP::Exchange(const QByteArray& command) {
    exchangeOpen_ = true;
    QByteArray reply = TNetwire::Transaction(command);
    // RFC 3977, section 3.2: a reply starts with its three-digit status code. Binary data
    // instead (compressed bytes never agreed on) cannot be read in step.
    if (nntpwire::IsBinaryReply(reply)) {
        FailOutOfStep(QStringLiteral("Garbled reply from the server to ") +
                      QString::fromLatin1(command.left(command.indexOf(' '))) +
                      QStringLiteral(": no status code"));
    }
    exchangeOpen_ = false;
    // RFC 3977: 483 refuses a command until the connection is private enough.
    if (ReplyCode == 483) {
        throw NNTPError(QStringLiteral("The server requires an encrypted connection (483): "
                                       "choose Security TLS (port 563) or STARTTLS"));
    }
    return reply;
}

void TQRNNTP::DropIfExchangeOpen() {
    if (exchangeOpen_) {
        exchangeOpen_ = false;
        TNetwire::Disconnect();
    }
}

bool TQRNNTP::SecurityInPlace() const {
    return Security == TSecurity::None || Encrypted();
}

void TQRNNTP::FailOutOfStep(const QString& reason) {
    exchangeOpen_ = false;
    TNetwire::Disconnect();
    throw NNTPError(reason);
}

void TQRNNTP::FailLineTooLong() {
    FailOutOfStep(QStringLiteral("Reply line too long"));
}

void TQRNNTP::CheckHeaderSize(qint64 headerBytes) {
    if (headerBytes > kMaxHeaderBytes) {
        FailOutOfStep(QStringLiteral("Article header too long"));
    }
}

void TQRNNTP::Disconnect() {
    if (Busy) {
        Cancel();
    }
    // No QUIT before the chosen security is in place (a handshake under way included): it
    // would go out in plain text, and a 480 to it would start the login.
    if (Connected && SecurityInPlace()) {
        WithFinally([this] { Transaction("QUIT"); }, [this] { TNetwire::Disconnect(); });
    } else {
        TNetwire::Disconnect();
    }
}

void TQRNNTP::Abort() {
    Cancel();
}

void TQRNNTP::AbortResume(QObject*) {
    TNetwire::Disconnect();
}

// ---------------------------------------------------------------------------------------------
// Group list, group selection, summaries

bool TQRNNTP::ReadTillDot(TStringList& list, const QByteArray& command) {
    return ReadReply(list, command, {});
}

bool TQRNNTP::ReadReply(TStringList& list, const QByteArray& command,
                        const std::function<void(const QByteArray& line)>& onDataLine,
                        int expectedLines) {
    BytesRecvd = 0;
    list.Clear();
    if (!command.isEmpty()) {
        Transaction(command);
    }
    if (ReplyCode > 299) {
        return false;
    }
    list.Reserve(expectedLines);
    ReadDataLines(list, onDataLine);
    return true;
}

void TQRNNTP::ReadDataLines(TStringList& list,
                            const std::function<void(const QByteArray& line)>& onDataLine) {
    exchangeOpen_ = true;
    ReadLinesUntil([&](QByteArrayView received) {
        const QByteArray line(received.data(), nntpwire::LengthWithoutLineEnd(received));
        ++BytesRecvd;
        Raise(OnPacketRecvd);
        if (nntpwire::IsTerminator(line)) {
            list.Add(line);
            return true;
        }
        list.Add(nntpwire::Unstuff(line));
        if (ListingGroups == 1 && OnGroupListUpdate) {
            const nntpwire::GroupLine group = nntpwire::ParseGroupLine(list.Last());
            OnGroupListUpdate(group.name, group.first, group.last, group.posting);
        }
        if (onDataLine) {
            onDataLine(list.Last());
        }
        return false;
    });
    exchangeOpen_ = false;
}

void TQRNNTP::GetGroupList() {
    RetreiveList(1, 0);
}

void TQRNNTP::GetNewGroups(const QDateTime& since) {
    if (Busy) {
        return;
    }
    Busy = true;
    WithFinally(
        [&] {
            GroupLines.Clear();
            if (CacheMode == TCacheMode::cmLocal) {
                return;
            }
            CertifyConnect();
            const QByteArray command = nntpwire::NewGroupsCommand(since);
            if (!ReadTillDot(GroupLines, command)) {
                return;
            }
            QList<QByteArray> dataLines;
            for (int i = 0; i + 1 < GroupLines.Count(); ++i) {
                dataLines.append(GroupLines[i]);
            }
            for (const nntpwire::GroupLine& group :
                 nntpwire::ParseGroupList(dataLines, "NEWGROUPS")) {
                if (OnGroupListUpdate) {
                    OnGroupListUpdate(group.name, group.first, group.last, group.posting);
                }
            }
        },
        [this] {
            DropIfExchangeOpen();
            Busy = false;
        });
}

QDateTime TQRNNTP::GetServerTime() {
    if (Busy || CacheMode == TCacheMode::cmLocal) {
        return QDateTime::currentDateTimeUtc();
    }
    Busy = true;
    QDateTime time;
    WithFinally(
        [&] {
            CertifyConnect();
            const QByteArray reply = Transaction("DATE");
            time = ReplyCode == 111 ? nntpwire::ParseDateReply(reply)
                                    : QDateTime::currentDateTimeUtc();
        },
        [this] {
            DropIfExchangeOpen();
            Busy = false;
        });
    return time;
}

void TQRNNTP::GetArticleList(bool all, int from) {
    RetreiveList(2, all || from < FirstArticleNo ? FirstArticleNo : from);
}

void TQRNNTP::SetGroup(const QByteArray& name) {
    if (Busy) {
        return;
    }
    Busy = true;
    bool selected = false;
    WithFinally(
        [&] {
            QByteArray reply;
            if (CacheMode != TCacheMode::cmLocal) {
                CertifyConnect();
                reply = Transaction("GROUP " + name);
                if (ReplyCode > 299) {
                    throw NNTPError(QStringLiteral("Invalid Group"));
                }
                CurrentGroup = name;
            }
            const nntpwire::GroupRange range = nntpwire::ParseGroupReply(reply);
            FirstArticleNo = range.first;
            LastArticleNo = range.last;
            announcedCount_ = range.count;
            selected = true;
        },
        [&] {
            DropIfExchangeOpen();
            Busy = false;
            if (selected) {
                Raise(OnGroupSelect);
            }
        });
}

void TQRNNTP::RetreiveList(int kind, int start) {
    if (Busy) {
        return;
    }
    Busy = true;
    WithFinally(
        [&] {
            if (kind == 2 && CacheMode == TCacheMode::cmLocal) {
                listingStart_ = start;
                if (AnsweredByCache(OnHeaderListCacheUpdate)) {
                    summaryFields_.clear();
                    for (int i = 0; i + 1 < SummaryLines.Count(); ++i) {
                        summaryFields_.append(nntpwire::LocateSummaryFields(SummaryLines[i]));
                    }
                    ReportSummaries();
                }
            }
            if (CacheMode == TCacheMode::cmLocal) {
                return;
            }
            CertifyConnect();
            if (kind == 1) {
                ListingGroups = 1;
                WithFinally([this] { ReadTillDot(GroupLines, "LIST"); },
                            [this] { ListingGroups = 0; });
                return;
            }
            ReadSummaries(start);
        },
        [this] {
            DropIfExchangeOpen();
            Busy = false;
        });
}

void TQRNNTP::ReadSummaries(int start) {
    // Room for the summaries the group announces, so that the lists do not grow by copying
    // while they arrive. Memory reserved beyond what arrives is never touched, and the bound
    // keeps a server's wild count from reserving more than a very large group needs.
    const qint64 range = qint64(LastArticleNo) - start + 1;
    const int expected = static_cast<int>(
        std::clamp<qint64>(announcedCount_ > 0 ? std::min<qint64>(announcedCount_, range) : range,
                           0, kMostSummariesReserved));
    summaryFields_.clear();
    summaryFields_.reserve(expected);
    qint64 received = 0;
    const auto raiseProgress = [&] {
        if (OnListProgress) {
            OnListProgress(received, announcedCount_);
        }
    };
    // Each line is split as it arrives; the events wait for the whole list.
    const auto takeSummary = [&](const QByteArray& line) {
        summaryFields_.append(nntpwire::LocateSummaryFields(line));
        if (++received % kProgressSummaries == 0) {
            raiseProgress();
        }
    };
    const QByteArray command = "XOVER " + Number(start) + '-' + Number(LastArticleNo);
    const bool listed = PipelineDepth > 1 && qint64(LastArticleNo) - start >= kListingRange
                            ? ReadSummariesInRanges(start, takeSummary, expected + 1)
                            : ReadReply(SummaryLines, command, takeSummary, expected + 1);
    if (!listed) {
        summaryFields_ = {};
        ReportHeadersOneByOne(start);
        return;
    }
    raiseProgress();
    ReportSummaries();
}

bool TQRNNTP::AnsweredByCache(const THandlerEvent& hook) {
    bool handled = false;
    if (hook) {
        hook(handled);
    }
    return handled;
}

void TQRNNTP::OfferArticleToCache(int number) {
    if (OnArticleCacheUpdate) {
        bool handled = false;
        OnArticleCacheUpdate(handled, 0, HeaderLines.GetValue("From"),
                             HeaderLines.GetValue("Subject"), HeaderLines.GetValue("Message-ID"),
                             HeaderLines.GetValue("Date"), number);
    }
}

void TQRNNTP::ReportSummaries() {
    const QList<nntpwire::SummaryFields> fields = std::exchange(summaryFields_, {});
    for (int i = 0; i + 1 < SummaryLines.Count(); ++i) {
        if (OnSummary) {
            RaiseSummary(SummaryLines[i], fields[i]);
        } else {
            SetSummaryHeaderLines(SummaryLines[i], fields[i]);
            Raise(OnHeaderList);
        }
    }
}

void TQRNNTP::RaiseSummary(const QByteArray& line, const nntpwire::SummaryFields& fields) {
    if (!fields.hasCr) {
        OnSummary({line, fields});
        return;
    }
    const QByteArray withoutCr = nntpwire::SummaryCrAsNul(line);
    OnSummary({withoutCr, fields});
}

void TQRNNTP::SetSummaryHeaderLines(const QByteArray& line, const nntpwire::SummaryFields& fields) {
    // A CR in the line becomes a NUL in its field, and a handler may have sorted the list:
    // both are rare enough for the plain way.
    if (fields.hasCr || HeaderLines.Sorted()) {
        HeaderLines.Clear();
        for (const QByteArray& field : nntpwire::SplitSummaryLine(line)) {
            HeaderLines.Add(field);
        }
        return;
    }
    static const std::array<QByteArrayView, 9> prefixes = [] {
        std::array<QByteArrayView, 9> views;
        std::copy(std::begin(nntpwire::kSummaryPrefixes), std::end(nntpwire::kSummaryPrefixes),
                  views.begin());
        return views;
    }();
    HeaderLines.Resize(fields.count);
    for (int index = 0; index < fields.count; ++index) {
        HeaderLines.SetJoined(index, prefixes[index], fields.Field(line, index));
    }
}

void TQRNNTP::ReportHeadersOneByOne(int start) {
    // For servers without XOVER: one HEAD per article; a missing article reports an empty list.
    for (int number = start; number <= LastArticleNo; ++number) {
        ReadHead("HEAD " + Number(number));
        Raise(OnHeaderList);
    }
}

// ---------------------------------------------------------------------------------------------
// Articles

namespace {

// RFC 3977, section 6.2.1: 430 answers a Message-ID the server does not know.
[[noreturn]] void FailNoSuchArticle(const QByteArray& messageId) {
    throw NNTPError(QStringLiteral("No such article ") + QString::fromLatin1(messageId));
}

} // namespace

void TQRNNTP::ReadTillBlankLine(const QByteArray& article) {
    HeaderLines.Clear();
    Transaction("ARTICLE " + article);
    if (ReplyCode == 430 && article.startsWith('<')) {
        FailNoSuchArticle(article);
    }
    if (ReplyCode >= 299) {
        if (ReplyCode == 423) {
            Raise(OnInvalidArticle);
        }
        throw Exception(QStringLiteral("Article not Found"));
    }
    ReadArticleHead();
}

void TQRNNTP::ReadArticleHead() {
    HeaderLines.Clear();
    exchangeOpen_ = true; // the body follows the header
    qint64 headerBytes = 0;
    QByteArray line;
    do {
        line = ReadLn();
        headerBytes += line.size();
        CheckHeaderSize(headerBytes);
        line = StripLineEnd(std::move(line));
        HeaderLines.Add(line);
    } while (!line.isEmpty());
}

bool TQRNNTP::ReadHead(const QByteArray& command) {
    qint64 headerBytes = 0;
    return ReadReply(HeaderLines, command, [&](const QByteArray& line) {
        headerBytes += line.size() + 2;
        CheckHeaderSize(headerBytes);
    });
}

bool TQRNNTP::ReadBody(const QByteArray& command) {
    qint64 received = 0;
    qint64 reported = 0;
    const auto raiseProgress = [&] {
        if (OnArticleProgress) {
            OnArticleProgress(received);
        }
        reported = received;
    };
    const bool ok = ReadReply(BodyLines, command, [&](const QByteArray& line) {
        received += line.size() + 2;
        if (received - reported >= kProgressBytes) {
            raiseProgress();
        }
    });
    if (ok) {
        raiseProgress();
    }
    return ok;
}

bool TQRNNTP::ReadArticleBody() {
    BytesTotal = nntpwire::StrToIntDef(HeaderLines.GetValue("Lines"), 0);
    const bool ok = ReadBody(QByteArray());
    if (ParseAttachments) {
        ExtractAttachments();
    }
    return ok;
}

void TQRNNTP::RetreiveArticle(int kind, int number, const QByteArray& messageId) {
    if (Busy) {
        return;
    }
    const bool byId = !messageId.isEmpty();
    const QByteArray article = byId ? nntpwire::CheckedMessageId(messageId) : Number(number);
    Busy = true;
    bool completed = false;
    WithFinally(
        [&] {
            requestedArticle_ = number;
            requestedMessageId_ = byId ? article : QByteArray();
            requestedPart_ = static_cast<TRetrieval>(kind);
            if (CacheMode != TCacheMode::cmMixed && AnsweredByCache(OnBodyCacheUpdate)) {
                completed = true;
                if (!byId) {
                    LastArticleRequested = number;
                }
                return;
            }
            CertifyConnect();
            bool ok = true;
            if (kind == 1) {
                ok = ReadHead("HEAD " + article);
            } else if (kind == 2) {
                ok = ReadBody("BODY " + article);
            } else {
                ReadTillBlankLine(article);
                ok = ReadArticleBody();
            }
            // By number the reply repeats the number; by Message-ID it says where the article
            // is in the current group, if anywhere.
            const int filedAs = byId ? nntpwire::ReplyArticleNumber(LastReply) : number;
            if (kind != 2) {
                HeaderLines.SetValue("ArtId", Number(filedAs));
            }
            completed = true;
            if (!ok && byId && ReplyCode == 430) {
                FailNoSuchArticle(article);
            }
            if (!ok) {
                throw NNTPError(QStringLiteral("Retreival Failed"));
            }
            if (!byId) {
                LastArticleRequested = number;
            }
            if (kind == 3 && filedAs > 0) {
                OfferArticleToCache(filedAs);
            }
        },
        [&] {
            requestedMessageId_.clear();
            DropIfExchangeOpen();
            Busy = false;
            if (completed) {
                Raise(RetrievedEvent(static_cast<TRetrieval>(kind)));
            }
        });
}
