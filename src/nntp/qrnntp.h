#pragma once

#include "net/nwire.h"
#include "nntp/nntpwire.h"
#include "nntp/qrextstr.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

class QFile;
class TYEncDecoder;

// Failures of the news protocol ("Invalid Group", "Authentication failed", ...).
class NNTPError : public Exception {
public:
    using Exception::Exception;
};

// Where the client takes what a cache (see the cache hooks) may hold. cmMixed: everything from
// the server. cmRemote: an article the cache holds from the cache, the rest from the server.
// cmLocal: articles as cmRemote; the group list, the article listing and the group selection
// send nothing to the server (a listing comes from the cache).
enum class TCacheMode : quint8 { cmMixed = 0, cmRemote = 1, cmLocal = 2 };

using TVarFileNameEvent = std::function<void(QString& fileName)>;
using TListProgressEvent = std::function<void(qint64 received, qint64 announced)>;
using TArticleProgressEvent = std::function<void(qint64 bytesReceived)>;
using TGroupRetrievedEvent =
    std::function<void(const QByteArray& name, int firstArticle, int lastArticle, bool posting)>;
using TGroupRetrievedCacheEvent = std::function<void(
    bool& handled, const QByteArray& name, int firstArticle, int lastArticle, bool posting)>;
// One summary of an XOVER listing as OnSummary reports it: its line and where its fields lie,
// as nntpwire::LocateSummaryFields found them. A view into the client's lists, valid during the
// event only.
struct TSummaryLine {
    QByteArrayView line;
    nntpwire::SummaryFields fields;

    // The field of that index (nntpwire::SummaryField); empty when the line has fewer.
    QByteArrayView Field(int index) const {
        return index < fields.count ? fields.Field(line, index) : QByteArrayView();
    }
    // The article number, 0 when the first field is not one.
    int Number() const;
};
using TSummaryEvent = std::function<void(const TSummaryLine& summary)>;
using THeaderCacheEvent =
    std::function<void(bool& handled, int idNo, const QByteArray& from, const QByteArray& subject,
                       const QByteArray& msgId, const QByteArray& date, int articleNo)>;

// The common header fields of a bound header list, read and written by name. Setting an empty
// value removes the line.
class TPostRecordType {
public:
    explicit TPostRecordType(TExStringList& lines) : lines_(lines) {}

    QByteArray GetPrFromAddress() const { return lines_.GetValue("From"); }
    void SetPrFromAddress(const QByteArray& value) { lines_.SetValue("From", value); }
    // The header name is "ReplyTo", without a hyphen, as the settings and posts have it.
    QByteArray GetPrReplyTo() const { return lines_.GetValue("ReplyTo"); }
    void SetPrReplyTo(const QByteArray& value) { lines_.SetValue("ReplyTo", value); }
    QByteArray GetPrSubject() const { return lines_.GetValue("Subject"); }
    void SetPrSubject(const QByteArray& value) { lines_.SetValue("Subject", value); }
    QByteArray GetPrDistribution() const { return lines_.GetValue("Distribution"); }
    void SetPrDistribution(const QByteArray& value) { lines_.SetValue("Distribution", value); }
    QByteArray GetPrAppName() const { return lines_.GetValue("X-Newsreader"); }
    void SetPrAppName(const QByteArray& value) { lines_.SetValue("X-Newsreader", value); }
    QByteArray GetPrTimeDate() const { return lines_.GetValue("Date"); }
    void SetPrTimeDate(const QByteArray& value) { lines_.SetValue("Date", value); }
    QByteArray GetNewsGroups() const { return lines_.GetValue("Newsgroups"); }
    void SetNewsGroups(const QByteArray& value) { lines_.SetValue("Newsgroups", value); }
    // A missing or non-numeric value raises the conversion error.
    int GetPrByteCount() const;
    int GetPrLineCount() const;
    // 0 when missing or not a number.
    int GetArticleId() const;

private:
    TExStringList& lines_;
};

// The client side of one news server connection. Every operation is synchronous: it sends its
// command, blocks in the connection layer's line reader (which keeps the window alive), fills
// the lists and raises its event before it returns. Busy guards against a second operation
// started from inside a running one: that call returns at once and does nothing.
class TQRNNTP : public TNetwire {
    Q_OBJECT
public:
    explicit TQRNNTP(QObject* parent = nullptr);

    int ListingGroups = 0;
    QByteArray UserId;
    QByteArray Password;
    TCacheMode CacheMode = TCacheMode::cmMixed;
    QByteArray CurrentGroup;
    int FirstArticleNo = 0;
    int LastArticleNo = 0;
    TExStringList HeaderLines;
    TPostRecordType HeaderRecord{HeaderLines};
    TExStringList BodyLines;
    TStringList GroupLines;
    TStringList SummaryLines;
    TExStringList PostHeader;
    TPostRecordType PostRecord{PostHeader};
    TExStringList PostBody;
    TStringList PostAttachments;
    bool Busy = false;
    int LastArticleRequested = 0;
    // When set, GetArticle decodes the article's attachments into AttachFilePath and replaces
    // each block of the body by a line naming the file.
    bool ParseAttachments = false;
    TStringList AttachmentNames;
    // What the last extraction found wrong with files it kept (a yEnc block cut short, or one
    // whose CRC32 or size does not match), one text per file; emptied when an extraction starts.
    QStringList AttachmentProblems;
    // What the last extraction has to say about files that are not written yet (a part of a
    // multi-part yEnc post kept until the file's other parts come), one text per part;
    // emptied when an extraction starts.
    QStringList AttachmentNotices;
    QByteArray MimeBoundary;
    // The server's capabilities (RFC 3977, section 5.2), one per line, the "." line last. With
    // a Security other than None, or with Compress, they are asked for after the greeting, and
    // once more after STARTTLS; empty otherwise and when the server does not know the command.
    TStringList Capabilities;
    bool HasCapability(const QByteArray& capability) const;
    // Compression (RFC 8054): when set, a server whose capabilities list COMPRESS DEFLATE is
    // asked for it once greeting, TLS and login are done (never before the login: credentials
    // are not compressed), and from its 206 on the connection is compressed both ways. A
    // refusal leaves the connection uncompressed; compressed data that does not inflate drops
    // it with an NNTPError.
    bool Compress = true;

    // Directories are kept with a trailing separator; an empty value stays empty.
    const QString& AttachFilePath() const { return attachFilePath_; }
    void SetAttachmentPath(const QString& path);
    const QString& NewsDir() const { return newsDir_; }
    void SetNewsDir(const QString& path);
    void SetPostHeader(const TExStringList& lines) { PostHeader.Assign(lines); }
    void SetPostBody(const TExStringList& lines) { PostBody.Assign(lines); }
    void SetPostAttachments(const TStringList& names) { PostAttachments.Assign(names); }

    // Events. OnConnect is raised once greeting and login are done; it replaces the connection
    // layer's own connect notification.
    TNotifyEvent OnConnect;
    THandlerEvent OnAuthenticationNeeded;
    TNotifyEvent OnAuthenticationFailed;
    THandlerEvent OnGroupSelectRequired;
    TNotifyEvent OnGroupSelect;
    TGroupRetrievedEvent OnGroupListUpdate;
    TNotifyEvent OnHeaderList;
    // When set, the summaries of an XOVER listing (or of one a cache answered) are reported
    // through it instead of OnHeaderList, without making header lines of them: HeaderLines is
    // left alone. A CR inside a line reaches it as a NUL, as in the header lines. A listing
    // article by article (a server without XOVER) still raises OnHeaderList.
    TSummaryEvent OnSummary;
    TNotifyEvent OnHeader;
    TNotifyEvent OnBody;
    TNotifyEvent OnArticle;
    TNotifyEvent OnInvalidArticle;
    TVarFileNameEvent OnDecodeStart;
    TNotifyEvent OnDecodeEnd;
    TNotifyEvent OnPosted;
    TOnErrorEvent OnPostFailed;
    // Compression failed with this server: refused (errorNumber: the reply code) or a
    // compressed stream that broke (0), message saying which. Raised before the refusal is
    // passed over or the break raised, so that a caller can remember not to ask this server
    // again.
    TOnErrorEvent OnCompressionFailed;
    // Progress while a long reply arrives, for a progress bar. OnListProgress: the summaries
    // GetArticleList has received so far and the article count the GROUP reply announced (0
    // when it gave none), every kProgressSummaries summaries and once more after the last,
    // before the OnHeaderList events. OnArticleProgress: the bytes of the body lines received
    // so far, line ends counted, every kProgressBytes and once more after the last line.
    TListProgressEvent OnListProgress;
    TArticleProgressEvent OnArticleProgress;
    static constexpr qint64 kProgressSummaries = 1000;
    static constexpr qint64 kProgressBytes = 65536;
    // The largest article header a retrieval takes, line ends included: a header that runs on
    // past it ends the retrieval with "Article header too long" and drops the connection.
    static constexpr qint64 kMaxHeaderBytes = 16 * 1024 * 1024;
    // The cache hooks, for a caller that keeps what the client fetches (TStoreCache). Unset,
    // the client asks the server for everything, as CacheMode says.
    //   OnHeaderListCacheUpdate: with CacheMode cmLocal, GetArticleList raises it first; a cache
    //     that holds the listing of CurrentGroup from ListingStart() on fills SummaryLines
    //     (the overview lines and the "." line) and sets handled, and the summaries are
    //     reported as if the server had sent them. The server's listing may have grown, so
    //     the other modes never take it from a cache.
    //   OnBodyCacheUpdate: with cmRemote and cmLocal, GetArticle, GetArticleHeader and
    //     GetArticleBody raise it first; a cache that holds article RequestedArticle() of
    //     CurrentGroup (or, when RequestedMessageId() is not empty, the article of that
    //     Message-ID in any group of the server) fills HeaderLines and BodyLines (its "." line
    //     last) as the retrieval would and sets handled. With cmMixed every article comes from
    //     the server.
    //   OnArticleCacheUpdate: raised after GetArticle has retrieved an article from the
    //     server, with its From, Subject, Message-ID, Date and number (idNo is 0), for the
    //     cache to keep HeaderLines and BodyLines; handled means nothing there.
    // OnGroupListCacheUpdate and OnHeaderCacheUpdate are not raised.
    TNotifyEvent OnAbort;
    TGroupRetrievedCacheEvent OnGroupListCacheUpdate;
    THandlerEvent OnHeaderListCacheUpdate;
    THeaderCacheEvent OnHeaderCacheUpdate;
    THeaderCacheEvent OnArticleCacheUpdate;
    THandlerEvent OnBodyCacheUpdate;
    // The first number of the listing being asked for, for OnHeaderListCacheUpdate.
    int ListingStart() const { return listingStart_; }
    // The estimated article count of the last GROUP reply; 0 when it gave none.
    int AnnouncedCount() const { return announcedCount_; }
    // The number of the article being retrieved, for OnBodyCacheUpdate; and which part.
    int RequestedArticle() const { return requestedArticle_; }
    enum class TRetrieval : quint8 { Header = 1, Body = 2, Whole = 3 };
    TRetrieval RequestedPart() const { return requestedPart_; }
    // The Message-ID being retrieved; empty for a retrieval by number.
    const QByteArray& RequestedMessageId() const { return requestedMessageId_; }

    void Connect() override;
    void Disconnect() override;
    // Ends the running operation. A reply cannot be canceled in the news protocol, so the
    // operation closes the connection as it ends.
    void Abort() override;
    // Every command goes through here: a 480 reply logs in with AUTHINFO and repeats the
    // command; a 412 reply selects CurrentGroup again and repeats it once. A 412 to that new
    // selection is not recovered again: the selection fails with "Invalid Group".
    QByteArray Transaction(const QByteArray& command) override;
    void AbortResume(QObject* sender);

    void GetGroupList();
    // NEWGROUPS (RFC 3977, section 7.3): the groups created after since, into GroupLines and
    // one OnGroupListUpdate each, as GetGroupList. The events come once the whole reply is read
    // and every line is a group line; a malformed line raises the error naming it and reports
    // no group. A refused command leaves GroupLines empty; with cmLocal nothing is sent.
    void GetNewGroups(const QDateTime& since);
    // DATE (RFC 3977, section 7.1): the server's clock, in UTC, for a later GetNewGroups; the
    // local clock when the server refuses the command, with cmLocal, and inside a running
    // operation. A 111 reply without a time raises the error quoting it.
    QDateTime GetServerTime();
    void SetGroup(const QByteArray& name);
    void GetArticleList(bool all, int from);
    void GetArticle(int number) { RetreiveArticle(3, number); }
    void GetArticleHeader(int number) { RetreiveArticle(1, number); }
    void GetArticleBody(int number) { RetreiveArticle(2, number); }
    // RFC 3977, section 6.2.1: the article of a Message-ID, in whichever group it is filed,
    // retrieved and reported as by number; ArtId is the number the reply gives (0 when the
    // article is not in CurrentGroup), and only an article of CurrentGroup is offered to the
    // cache to keep. The id is checked first (nntpwire::CheckedMessageId): a malformed one
    // raises its error and nothing is sent. An unknown one (430) raises "No such article".
    void GetArticleById(const QByteArray& messageId) { RetreiveArticle(3, 0, messageId); }
    void GetArticleHeaderById(const QByteArray& messageId) { RetreiveArticle(1, 0, messageId); }
    void GetArticleBodyById(const QByteArray& messageId) { RetreiveArticle(2, 0, messageId); }
    // Sends PostHeader, PostBody and each of PostAttachments as a uuencoded block.
    void PostArticle();

    // How many retrieval or listing commands go out before their replies are read (RFC 3977,
    // section 3.5): a server 50 ms away then answers article after article instead of one
    // round trip each. 1 sends one command at a time.
    int PipelineDepth = kDefaultPipelineDepth;
    static constexpr int kDefaultPipelineDepth = 16;
    // The most a setting may ask for: more gains nothing on any link, and a server may take a
    // long queue of unread replies for a stuck client.
    static constexpr int kMaxPipelineDepth = 64;
    // The most article numbers one XOVER asks for: a longer listing goes out in ranges of this
    // size, kept in flight as PipelineDepth allows, so that its first summaries arrive (and are
    // counted by OnListProgress) long before its last. SummaryLines ends the same either way.
    static constexpr int kListingRange = 10000;
    // Called after each article of FetchArticles: found is false for an article the server
    // does not have (423 or 430); false from here stops the retrieval.
    using TFetchedArticle = std::function<bool(int number, bool found)>;
    // The articles of CurrentGroup with these numbers, in this order, up to PipelineDepth of
    // them asked for at a time. Each is retrieved and reported as GetArticle, GetArticleHeader
    // or GetArticleBody (as part says) does: HeaderLines and BodyLines filled, the cache hooks
    // (an article OnBodyCacheUpdate answers is not asked of the server), OnArticle, OnHeader or
    // OnBody, and then onArticle. A missing article raises OnInvalidArticle and the retrieval
    // goes on. Once onArticle stops it, the replies still on their way are read and dropped.
    // Abort, a time-out and any error end the whole retrieval, the connection closed; so does a
    // reply that does not answer the command it stands for (another article's, one cut short,
    // one of no retrieval), with an NNTPError that says what was expected and what came.
    void FetchArticles(const QList<int>& numbers, TRetrieval part,
                       const TFetchedArticle& onArticle);

protected:
    void InternalConnect();
    // Between the greeting and the login: the capabilities and, for STARTTLS, the handshake.
    void NegotiateSecurity();
    void ReadCapabilities();
    // After the login (loggedIn: one was made): COMPRESS DEFLATE when Compress is set and the
    // capabilities offer it.
    void NegotiateCompression(bool loggedIn);
    // Starts compression on a 206; reports any other reply as a refusal.
    void TakeCompressionReply(const QByteArray& reply);
    // Raises the break as NNTPError, the connection dropped, after OnCompressionFailed.
    [[noreturn]] void FailCompressedStream(const QString& reason) override;
    void RetreiveList(int kind, int start);
    // Reads a multi-line reply into list, up to and including the "." line. Sends command
    // first unless it is empty; false, with the list empty, when the reply refuses.
    bool ReadTillDot(TStringList& list, const QByteArray& command);
    // The article of that number, or of messageId when it is not empty.
    void RetreiveArticle(int kind, int number, const QByteArray& messageId = {});
    // Sends ARTICLE for the article named (number or Message-ID) and reads the header part of
    // the reply up to its empty line.
    void ReadTillBlankLine(const QByteArray& article);
    // The header part of an ARTICLE reply whose status line is read, into HeaderLines.
    void ReadArticleHead();
    // The rest of an ARTICLE reply after ReadArticleHead, into BodyLines, with its attachments
    // extracted when ParseAttachments says so; false when the reply refused.
    bool ReadArticleBody();
    // ReadTillDot of a HEAD command into HeaderLines, within kMaxHeaderBytes.
    bool ReadHead(const QByteArray& command);
    // Raises "Reply line too long" as NNTPError, the connection dropped.
    [[noreturn]] void FailLineTooLong() override;
    void ExtractAttachments();
    void ExtractEmbedded();
    void ExtractMultipart();
    // Decodes data into a new file in AttachFilePath; a taken name is numbered ("a_1.txt"),
    // and the name finally used is handed back.
    void Decode(QIODevice& data, QString& fileName, int method);
    // Decodes the yEnc block that starts at BodyLines[first] into its file and puts the line
    // naming it into newBody; answers the index of the first line after the block.
    int ExtractYEncBlock(int first, TStringList& newBody);

private:
    // True when the connection has the security that was chosen: always for None, once the
    // handshake is done for Tls and StartTls.
    bool SecurityInPlace() const;
    void Login();
    [[noreturn]] void FailAuthentication();
    bool IsAuthenticationRefused() const;
    void SelectGroupAgain();
    friend class TPipeline;
    friend class TArticlePipeline;
    // TNetwire::Transaction, with the exchange marked open until the reply line is read.
    QByteArray Exchange(const QByteArray& command);
    // The news protocol cannot cancel a reply: one left half read would be read as the answer
    // to the next command. So an operation that ends inside an exchange closes the connection
    // (without QUIT, which would be answered out of step); the next operation connects anew.
    void DropIfExchangeOpen();
    // For a reply that can no longer be read in step: drops the connection (without QUIT) and
    // raises NNTPError with reason.
    [[noreturn]] void FailOutOfStep(const QString& reason);
    // FailOutOfStep once an article header has grown past kMaxHeaderBytes.
    void CheckHeaderSize(qint64 headerBytes);
    // ReadTillDot, with onDataLine called for every data line as it is added to list, which
    // first gets room for expectedLines.
    bool ReadReply(TStringList& list, const QByteArray& command,
                   const std::function<void(const QByteArray& line)>& onDataLine,
                   int expectedLines = 0);
    // The data lines of a multi-line reply whose status line is read, added to list up to and
    // including the "." line, as ReadReply adds them.
    void ReadDataLines(TStringList& list,
                       const std::function<void(const QByteArray& line)>& onDataLine);
    void ReadSummaries(int start);
    // ReadReply of the XOVER listing from start on, one XOVER per kListingRange numbers kept in
    // flight: SummaryLines gets the summaries of every range and one "." line. False, with
    // SummaryLines empty, when the server refuses a range.
    bool ReadSummariesInRanges(int start,
                               const std::function<void(const QByteArray& line)>& onDataLine,
                               int expectedLines);
    // Raises the hook that may answer the listing or retrieval from a cache; true if it did.
    bool AnsweredByCache(const THandlerEvent& hook);
    // Raises OnArticleCacheUpdate for the article just retrieved.
    void OfferArticleToCache(int number);
    // ReadTillDot into BodyLines, raising OnArticleProgress.
    bool ReadBody(const QByteArray& command);
    void ReportSummaries();
    // Raises OnSummary for one summary line.
    void RaiseSummary(const QByteArray& line, const nntpwire::SummaryFields& fields);
    // HeaderLines := the header lines of one summary line, in the memory of the last ones.
    void SetSummaryHeaderLines(const QByteArray& line, const nntpwire::SummaryFields& fields);
    void ReportHeadersOneByOne(int start);
    void Raise(const TNotifyEvent& event);
    // The event that reports a retrieval of that part: OnHeader, OnBody or OnArticle.
    const TNotifyEvent& RetrievedEvent(TRetrieval part) const;
    void SendArticleText();
    void SendAttachment(const QString& path);
    QByteArray MarkingLine(const QString& fileName) const;
    bool IsClosingLine(int index) const;
    // Decodes one block or part into its file and puts the line naming it into newBody;
    // announce raises OnDecodeStart (which may rename) and OnDecodeEnd around it.
    void DecodeToAttachment(const QByteArray& data, QString fileName, int method,
                            TStringList& newBody, bool announce);
    // The steps around writing any attachment: write gets the name and hands back the one used.
    void SaveAttachment(QString fileName, const std::function<void(QString&)>& write,
                        TStringList& newBody, bool announce);
    // Creates a new file in AttachFilePath, numbering a name that is taken.
    void CreateAttachmentFile(QFile& file, QString& fileName) const;
    // Keeps a part of a multi-part yEnc post that passes its checks in the parts' working
    // folder; once the parts there hold the whole file, writes it under a free name and
    // removes them. Puts the line saying what became of the part into newBody.
    void KeepYEncPart(const TYEncDecoder& block, const QString& fileName, TStringList& newBody);
    // The working folder of the parts of a file of that name and size, made when missing;
    // ends with a separator.
    QString YEncPartsFolder(const QString& fileName, qint64 fileSize) const;
    // Adds to AttachmentProblems what is wrong with a block saved as fileName.
    void CheckYEncBlock(const TYEncDecoder& block, const QString& fileName);

    // Compression waits for a login: the server offers one, or answered COMPRESS with 480. It
    // is asked for once a login has succeeded.
    bool compressionAfterLogin_ = false;
    // True from sending a command until its reply has been read whole (for POST: until the
    // article is sent and answered).
    bool exchangeOpen_ = false;
    // Where the fields of each line of SummaryLines lie, found while the XOVER reply arrives
    // and dropped once the summaries are reported.
    QList<nntpwire::SummaryFields> summaryFields_;
    // The estimated article count of the last GROUP reply.
    int announcedCount_ = 0;
    bool selectingGroupAgain_ = false;
    int listingStart_ = 0;
    int requestedArticle_ = 0;
    TRetrieval requestedPart_ = TRetrieval::Whole;
    QByteArray requestedMessageId_;
    QString attachFilePath_;
    QString newsDir_;
};
