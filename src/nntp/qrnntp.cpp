#include "nntp/qrnntp.h"

#include "nntp/nntpwire.h"
#include "util/finally.h"

using nntpwire::StripLineEnd;

namespace {

QByteArray Number(int value) {
    return QByteArray::number(value);
}

QString WithTrailingSeparator(const QString& path) {
    return path.isEmpty() || path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

} // namespace

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

void TQRNNTP::Disconnect() {
    if (Busy) {
        Cancel();
    }
    // Nothing can be said in the middle of a TLS handshake: the connection is just closed.
    if (Connected && !Handshaking()) {
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
    BytesRecvd = 0;
    list.Clear();
    if (!command.isEmpty()) {
        Transaction(command);
    }
    if (ReplyCode > 299) {
        return false;
    }
    exchangeOpen_ = true;
    for (;;) {
        const QByteArray line = StripLineEnd(ReadLn());
        ++BytesRecvd;
        Raise(OnPacketRecvd);
        if (nntpwire::IsTerminator(line)) {
            list.Add(line);
            exchangeOpen_ = false;
            return true;
        }
        list.Add(nntpwire::Unstuff(line));
        if (ListingGroups == 1 && OnGroupListUpdate) {
            const nntpwire::GroupLine group = nntpwire::ParseGroupLine(list.Last());
            OnGroupListUpdate(group.name, group.first, group.last, group.posting);
        }
    }
}

void TQRNNTP::GetGroupList() {
    RetreiveList(1, 0);
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
            if (ReadTillDot(SummaryLines, "XOVER " + Number(start) + '-' + Number(LastArticleNo))) {
                ReportSummaries();
            } else {
                ReportHeadersOneByOne(start);
            }
        },
        [this] {
            DropIfExchangeOpen();
            Busy = false;
        });
}

void TQRNNTP::ReportSummaries() {
    for (int i = 0; i + 1 < SummaryLines.Count(); ++i) {
        HeaderLines.Clear();
        for (const QByteArray& field : nntpwire::SplitSummaryLine(SummaryLines[i])) {
            HeaderLines.Add(field);
        }
        Raise(OnHeaderList);
    }
}

void TQRNNTP::ReportHeadersOneByOne(int start) {
    // For servers without XOVER: one HEAD per article; a missing article reports an empty list.
    for (int number = start; number <= LastArticleNo; ++number) {
        ReadTillDot(HeaderLines, "HEAD " + Number(number));
        Raise(OnHeaderList);
    }
}

// ---------------------------------------------------------------------------------------------
// Articles

void TQRNNTP::ReadTillBlankLine(int number) {
    HeaderLines.Clear();
    Transaction("ARTICLE " + Number(number));
    if (ReplyCode >= 299) {
        if (ReplyCode == 423) {
            Raise(OnInvalidArticle);
        }
        throw Exception(QStringLiteral("Article not Found"));
    }
    exchangeOpen_ = true; // the body follows the header
    QByteArray line;
    do {
        line = StripLineEnd(ReadLn());
        HeaderLines.Add(line);
    } while (!line.isEmpty());
}

void TQRNNTP::RetreiveArticle(int kind, int number) {
    if (Busy) {
        return;
    }
    Busy = true;
    bool completed = false;
    WithFinally(
        [&] {
            CertifyConnect();
            // There is no article cache: every retrieval goes to the server.
            bool ok = true;
            if (kind == 1) {
                ok = ReadTillDot(HeaderLines, "HEAD " + Number(number));
                HeaderLines.SetValue("ArtId", Number(number));
            } else if (kind == 2) {
                ok = ReadTillDot(BodyLines, "BODY " + Number(number));
            } else {
                ReadTillBlankLine(number);
                BytesTotal = nntpwire::StrToIntDef(HeaderLines.GetValue("Lines"), 0);
                ok = ReadTillDot(BodyLines, QByteArray());
                if (ParseAttachments) {
                    ExtractAttachments();
                }
                HeaderLines.SetValue("ArtId", Number(number));
            }
            completed = true;
            if (!ok) {
                throw NNTPError(QStringLiteral("Retreival Failed"));
            }
            LastArticleRequested = number;
        },
        [&] {
            DropIfExchangeOpen();
            Busy = false;
            if (completed) {
                Raise(kind == 1 ? OnHeader : kind == 2 ? OnBody : OnArticle);
            }
        });
}
