#include "cli/clicommands.h"

#include "cli/clioptions.h"
#include "cli/clisearch.h"
#include "codec/encodedwords.h"
#include "codec/qruue.h"
#include "nntp/decodedarticle.h"
#include "nntp/nntpwire.h"
#include "nntp/postcharset.h"
#include "nntp/qrnntp.h"
#include "nntp/storecache.h"
#include "search/searchengine.h"
#include "store/newsrc.h"
#include "store/newsstore.h"
#include "store/storepath.h"
#include "util/compressionmemory.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSslCertificate>
#include <algorithm>
#include <functional>
#include <memory>

using nntpwire::StripLineEnd;

namespace {

// The window lists about the newest 500 articles of a larger group unless told otherwise.
constexpr int kNewestArticles = 500;

QByteArray Latin1Lower(const QByteArray& text) {
    return QString::fromLatin1(text).toLower().toLatin1();
}

// The readable form of an article for --decoded, in UTF-8 with LF line ends: each header field
// on one line, encoded words decoded; the body read through its MIME structure.
QByteArray DecodedHeaderText(const TDecodedArticle& article) {
    QString text;
    for (const THeaderField& field : article.Fields()) {
        text += QString::fromLatin1(field.name) + QStringLiteral(": ") +
                FieldDisplayValue(field.name, field.value) + u'\n';
    }
    return text.toUtf8();
}

QByteArray DecodedBodyText(const TDecodedArticle& article) {
    return article.BodyText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")).toUtf8();
}

// The columns of a summary line: number, From, Subject, Date, Message-ID, References, Bytes,
// Lines. Each names its field's place in GetArticleList's layout, where field k stands behind
// nntpwire::kSummaryPrefixes[k], and the header it comes from in a summary of the HEAD
// fall-back (a server without XOVER), which is the article's header instead. That header has
// no article number: the number the fall-back asked for stands in.
struct TSummaryColumn {
    int position;
    const char* header;
};
constexpr TSummaryColumn kSummaryColumns[] = {
    {0, nullptr},      {2, "From"},       {1, "Subject"}, {3, "Date"},
    {4, "Message-ID"}, {5, "References"}, {6, "Bytes"},   {7, "Lines"},
};

// Read by place rather than by name: a big group has a hundred thousand summaries, and the
// lookup by name would cost more than the rest of the listing.
void AppendOverviewField(QByteArray& line, const TExStringList& summary, int position) {
    const QByteArrayView prefix(nntpwire::kSummaryPrefixes[position]);
    if (position < summary.Count() && summary[position].startsWith(prefix)) {
        line += QByteArrayView(summary[position]).sliced(prefix.size());
    }
}

// The From and Subject columns of a summary line, tab-separated, readable in UTF-8.
QByteArray DecodedSummaryLine(const QByteArray& line) {
    QList<QByteArray> columns = line.split('\t');
    for (const int column : {1, 2}) {
        if (column < columns.size()) {
            columns[column] = DecodeEncodedWords(columns[column]).toUtf8();
        }
    }
    return columns.join('\t');
}

QByteArray SummaryLine(const TExStringList& summary, int number) {
    const bool overview = summary[0].startsWith(nntpwire::kSummaryPrefixes[0]);
    QByteArray line;
    line.reserve(512);
    for (const TSummaryColumn& column : kSummaryColumns) {
        if (&column != &kSummaryColumns[0]) {
            line += '\t';
        }
        if (overview) {
            AppendOverviewField(line, summary, column.position);
        } else if (column.header == nullptr) {
            line += QByteArray::number(number);
        } else {
            // Overview data never holds a tab inside a field; a header line may.
            line += summary.GetValue(column.header).replace('\t', ' ');
        }
    }
    line += '\n';
    return line;
}

QByteArray ReadWholeFile(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(QStringLiteral("Cannot open file ") + name + QStringLiteral(": ") +
                        file.errorString());
    }
    return file.readAll();
}

QList<QSslCertificate> CaCertificatesIn(const QString& name) {
    ReadWholeFile(name); // says why a file cannot be read
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(name, QSsl::Pem);
    if (certificates.isEmpty()) {
        throw Exception(QStringLiteral("No PEM certificate in the CA file ") + name);
    }
    return certificates;
}

// The summary line that the listing prints for an overview line as the store keeps it. A CR
// inside a field reads as a NUL, as the client reports it.
QByteArray StoredSummaryLine(const TStoredSummary& summary) {
    QByteArray line;
    line.reserve(summary.line.size() + 2);
    for (const TSummaryColumn& column : kSummaryColumns) {
        if (&column != &kSummaryColumns[0]) {
            line += '\t';
        }
        line += summary.Field(column.position);
    }
    line.replace('\r', '\0');
    line += '\n';
    return line;
}

class TCommandRun {
public:
    TCommandRun(const TCliOptions& options, const TCliStreams& streams, TCliConsole& console)
        : options_(options), arguments_(options.arguments), out_(streams.out), in_(streams.in),
          console_(console) {}

    // Runs the command; a failure raises an exception with its text, or reports through the
    // console and answers false.
    bool Run() {
        switch (options_.command) {
        case TCliCommand::Help:
            out_.write(HelpText());
            return true;
        case TCliCommand::Groups:
            RefuseOffline("groups");
            return Online([this](TQRNNTP& nntp) { return Groups(nntp); });
        case TCliCommand::Summary:
            if (options_.offline) {
                return OfflineSummary();
            }
            OpenStoreForFetching();
            return Online([this](TQRNNTP& nntp) { return Summary(nntp); });
        case TCliCommand::Article:
        case TCliCommand::Head:
        case TCliCommand::Body:
            if (options_.offline) {
                return OfflineArticle();
            }
            OpenStoreForFetching();
            return Online([this](TQRNNTP& nntp) { return Article(nntp); });
        case TCliCommand::Extract:
            RefuseOffline("extract");
            return Extract();
        case TCliCommand::Post:
            RefuseOffline("post");
            return Post();
        case TCliCommand::Subscribe:
        case TCliCommand::Unsubscribe:
            return Subscribe(options_.command == TCliCommand::Subscribe);
        case TCliCommand::Subscriptions:
            return Subscriptions();
        case TCliCommand::Sync:
            RefuseOffline("sync");
            Store();
            return Online([this](TQRNNTP& nntp) { return Sync(nntp); });
        case TCliCommand::MarkRead:
        case TCliCommand::MarkUnread:
            return Mark(options_.command == TCliCommand::MarkRead);
        case TCliCommand::Newsrc:
            return arguments_[0] == QLatin1String("export") ? ExportNewsrc() : ImportNewsrc();
        case TCliCommand::Find:
            return Find();
        case TCliCommand::Search:
            PrintSearchHits(Store(), ServerId(), options_, out_);
            return true;
        case TCliCommand::Encode:
        case TCliCommand::Decode:
            return Convert();
        }
        return false;
    }

private:
    QByteArray GroupArgument() const { return arguments_[0].toLocal8Bit(); }
    int ArticleNumberArgument() const { return arguments_[1].toInt(); }
    // article, head and body name their article by a Message-ID alone, or by group and number.
    bool ByMessageId() const { return arguments_.size() == 1; }
    QByteArray MessageIdArgument() const {
        return nntpwire::CheckedMessageId(arguments_[0].toUtf8());
    }

    // The commands that cannot do without the server.
    void RefuseOffline(const char* command) const {
        if (options_.offline) {
            throw Exception(QStringLiteral("--offline: ") + QLatin1String(command) +
                            QStringLiteral(" needs the server"));
        }
    }

    // The store, opened on first use: a file that is not a store fails here, naming it.
    TNewsStore& Store() {
        if (!store_) {
            store_ = std::make_unique<TNewsStore>(
                options_.storePath.isEmpty() ? NewsStorePath() : options_.storePath);
        }
        return *store_;
    }

    qint64 ServerId() {
        return Store().ServerId(options_.host, static_cast<quint16>(options_.port));
    }

    qint64 GroupId(const QByteArray& name) { return Store().GroupId(ServerId(), name); }

    // The online listing and retrieval keep what they fetch in a store that was named
    // (--store or $ZKNEWS_STORE); --new and --threads need one in any case. Opened before the
    // server is asked anything: a named store that cannot be used is said on standard error
    // and the server's answer still printed.
    void OpenStoreForFetching() {
        const bool named =
            !options_.storePath.isEmpty() || !qEnvironmentVariableIsEmpty("ZKNEWS_STORE");
        const bool needed = options_.unreadOnly || options_.threads;
        if (!named && !needed) {
            return;
        }
        try {
            Store();
        } catch (const EStoreError& error) {
            if (needed) {
                throw;
            }
            console_.Message(error.Message());
        }
    }

    // The link of the client to the store opened for fetching; null without one.
    TStoreCache* CacheFor(TQRNNTP& nntp) {
        if (store_) {
            cache_ = std::make_unique<TStoreCache>(nntp, *store_);
            // What the server sends is printed whether or not the store can keep it.
            cache_->OnStoreFailure = [this](const EStoreError& error) {
                console_.Message(error.Message());
            };
            cache_->Attach();
            // An article the store holds is printed from there; listings ask the server.
            nntp.CacheMode = TCacheMode::cmRemote;
        }
        return cache_.get();
    }

    // The stored group of the name, which an offline command cannot do without.
    TStoredGroup StoredGroup(const QByteArray& name) {
        const std::optional<TStoredGroup> group = StoredGroupNamed(Store(), ServerId(), name);
        if (!group) {
            throw Exception(QStringLiteral("--offline: the store ") + Store().Path() +
                            QStringLiteral(" holds nothing of ") + QString::fromLocal8Bit(name));
        }
        return *group;
    }

    // The first number a listing asks for: --from, every one, or the newest 500.
    int ListingStart(int first, int last) const {
        if (options_.all) {
            return first;
        }
        if (options_.from) {
            return *options_.from;
        }
        return last - first > kNewestArticles ? last - kNewestArticles : first;
    }

    bool OfflineSummary() {
        const QByteArray name = GroupArgument();
        const TStoredGroup group = StoredGroup(name);
        const qint64 id = GroupId(name);
        const TArticleRanges read = options_.unreadOnly ? Store().ReadMarks(id) : TArticleRanges();
        const qint64 from = std::max<qint64>(
            ListingStart(static_cast<int>(group.low), static_cast<int>(group.high)), group.low);
        for (const TStoredSummary& summary : Store().Summaries(id, from)) {
            if (summary.number > group.high || read.Contains(summary.number)) {
                continue;
            }
            List(summary.number, StoredSummaryLine(summary));
        }
        if (options_.threads) {
            PrintThreaded(id);
        }
        return true;
    }

    // Prints a summary line, or with --threads keeps it for PrintThreaded.
    void List(qint64 number, const QByteArray& line) {
        if (options_.threads) {
            listed_.append({number, line});
        } else {
            PrintSummaryLine(line);
        }
    }

    void PrintSummaryLine(const QByteArray& line) {
        out_.write(options_.decoded ? DecodedSummaryLine(line) : line);
    }

    // The lines kept by List in the thread order of the whole stored group, each with its
    // depth as a ninth field. A server without overview data lists by HEAD, which the store
    // does not keep: when the store lacks a listed line, the listing makes its own threads.
    void PrintThreaded(qint64 group) {
        std::stable_sort(
            listed_.begin(), listed_.end(),
            [](const TListedLine& a, const TListedLine& b) { return a.number < b.number; });
        QList<std::pair<qsizetype, int>> lines = ListedPlaces(Store().ThreadOrder(group));
        if (lines.size() < listed_.size()) {
            TThreader threader;
            for (const TListedLine& listed : listed_) {
                // The printed line has the overview's fields in the overview's places.
                threader.Add(listed.number, TStoredSummary::FieldOf(listed.line, 4),
                             TStoredSummary::FieldOf(listed.line, 5));
            }
            lines = ListedPlaces(threader.Order());
        }
        for (const auto& [index, depth] : lines) {
            PrintSummaryLine(listed_[index].line.chopped(1) + '\t' + QByteArray::number(depth) +
                             '\n');
        }
    }

    // The listed lines (by index) of the thread order, with their depths. A number the server
    // listed twice stands for each of its lines in turn.
    QList<std::pair<qsizetype, int>> ListedPlaces(const QList<TThreadPlace>& order) const {
        QList<std::pair<qsizetype, int>> places;
        QList<bool> placed(listed_.size(), false);
        for (const TThreadPlace& place : order) {
            auto found = std::lower_bound(
                listed_.cbegin(), listed_.cend(), place.number,
                [](const TListedLine& line, qint64 number) { return line.number < number; });
            while (found != listed_.cend() && found->number == place.number &&
                   placed[found - listed_.cbegin()]) {
                ++found;
            }
            if (found != listed_.cend() && found->number == place.number) {
                placed[found - listed_.cbegin()] = true;
                places.append({found - listed_.cbegin(), place.depth});
            }
        }
        return places;
    }

    bool OfflineArticle() {
        if (ByMessageId()) {
            return PrintStoredArticle(Store().ArticleByMessageId(ServerId(), MessageIdArgument()));
        }
        const QByteArray name = GroupArgument();
        StoredGroup(name);
        const int number = ArticleNumberArgument();
        const std::optional<QByteArray> bytes = Store().Article(GroupId(name), number);
        if (!bytes) {
            throw Exception(QStringLiteral("--offline: article %1 of %2 is not in the store %3")
                                .arg(number)
                                .arg(QString::fromLocal8Bit(name), Store().Path()));
        }
        return PrintStoredArticle(bytes);
    }

    bool PrintStoredArticle(const std::optional<QByteArray>& bytes) {
        if (!bytes) {
            throw Exception(QStringLiteral("--offline: no article ") + arguments_[0] +
                            QStringLiteral(" in the store ") + Store().Path());
        }
        TStringList header;
        TStringList body;
        TStoreCache::SplitArticle(*bytes, header, body);
        PrintArticle(TDecodedArticle(header, body));
        return true;
    }

    bool Subscribe(bool subscribed) {
        for (const QString& name : arguments_) {
            Store().SetSubscribed(GroupId(name.toLocal8Bit()), subscribed);
        }
        return true;
    }

    bool Subscriptions() {
        for (const QByteArray& name : Store().Subscriptions(ServerId())) {
            out_.write(name + '\t' + QByteArray::number(Store().UnreadCount(GroupId(name))) + '\n');
        }
        return true;
    }

    bool Sync(TQRNNTP& nntp) {
        TStoreCache cache(nntp, Store());
        QList<QByteArray> groups;
        for (const QString& name : arguments_) {
            groups.append(name.toLocal8Bit());
        }
        if (groups.isEmpty()) {
            groups = Store().Subscriptions(cache.ServerId());
        }
        // A group the server does not have (any more) keeps the others from nothing: a
        // scheduled sync goes on and fails at the end.
        bool allSynced = true;
        for (const QByteArray& name : groups) {
            try {
                const TStoreCache::TSyncCount count = cache.Sync(name, options_.articles);
                out_.write(name + '\t' + QByteArray::number(count.fresh) + '\t' +
                           QByteArray::number(count.stored) + '\n');
            } catch (const NNTPError& error) {
                if (nntp.ReplyCode != 411) {
                    throw;
                }
                console_.Message(QString::fromLocal8Bit(name) + QStringLiteral(": ") +
                                 error.Message());
                allSynced = false;
            }
        }
        return allSynced;
    }

    bool Mark(bool read) {
        const QByteArray name = GroupArgument();
        const qint64 id = GroupId(name);
        TArticleRanges ranges;
        if (arguments_.size() > 1) {
            ranges = TArticleRanges::Parse(arguments_[1].toLocal8Bit());
        } else {
            const std::optional<TStoredGroup> group = StoredGroupNamed(Store(), ServerId(), name);
            ranges.Add(1, std::max(group ? group->high : 0, Store().StoredHigh(id)));
        }
        for (const TArticleRanges::Range& range : ranges.Ranges()) {
            if (read) {
                Store().MarkRead(id, range.first, range.last);
            } else {
                Store().MarkUnread(id, range.first, range.last);
            }
        }
        return true;
    }

    bool ExportNewsrc() {
        QByteArray text;
        for (const TStoredGroup& group : Store().GroupList(ServerId())) {
            const TNewsrcEntry entry{group.name, group.subscribed,
                                     Store().ReadMarks(GroupId(group.name))};
            text += NewsrcLine(entry) + '\n';
        }
        if (arguments_.size() < 2) {
            out_.write(text);
            return true;
        }
        QSaveFile file(arguments_[1]);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
            throw Exception(QStringLiteral("Cannot write file ") + file.fileName() +
                            QStringLiteral(": ") + file.errorString());
        }
        return true;
    }

    // Reads every line first, so that a file with a bad line changes nothing.
    bool ImportNewsrc() {
        const QString path = arguments_[1];
        QList<TNewsrcEntry> entries;
        try {
            entries = ParseNewsrc(ReadWholeFile(path));
        } catch (const EStoreError& error) {
            throw Exception(path + QStringLiteral(", ") + error.Message());
        }
        for (const TNewsrcEntry& entry : entries) {
            const qint64 id = GroupId(entry.name);
            Store().SetSubscribed(id, entry.subscribed);
            Store().SetReadMarks(id, entry.marks);
        }
        return true;
    }

    // Connects as the options say, runs work and says goodbye. After a failure the connection
    // is closed without QUIT: the server may be the very thing that stopped answering.
    bool Online(const std::function<bool(TQRNNTP&)>& work) {
        TQRNNTP nntp;
        // The store's link sets the client's hooks: it goes before the client does.
        const auto dropCache = qScopeGuard([this] { cache_.reset(); });
        nntp.Host = options_.host;
        nntp.Port = options_.port;
        nntp.TimeOut = options_.timeout;
        nntp.ReportLevel = options_.reportLevel;
        nntp.UserId = options_.user;
        nntp.Password = options_.password;
        nntp.Security = options_.security;
        if (!options_.caFile.isEmpty()) {
            nntp.ExtraCaCertificates = CaCertificatesIn(options_.caFile);
        }
        if (!options_.trustedFingerprint.isEmpty()) {
            nntp.TrustedCertificates.append(
                TCertificatePin{options_.host, options_.port, options_.trustedFingerprint});
        }
        if (options_.reportLevel > 0) {
            nntp.OnStatus = [this](QObject*, const QString& status) { console_.Status(status); };
        }
        nntp.PipelineDepth = options_.pipelineDepth;
        nntp.Compress =
            options_.compress && !compressionmemory::FailedBefore(options_.host, options_.port);
        nntp.OnCompressionFailed = [this](QObject*, quint16, const QString&) {
            RememberCompressionFailed();
        };
        nntp.Connect();
        bool succeeded = false;
        try {
            succeeded = work(nntp);
        } catch (...) {
            nntp.AbortResume(&nntp);
            throw;
        }
        if (!succeeded) {
            nntp.AbortResume(&nntp);
            return false;
        }
        try {
            nntp.Disconnect();
        } catch (const Exception&) {
            // The command is complete; a server that does not answer QUIT changes nothing.
        }
        return true;
    }

    // The next run does not ask this server for compression. Not being able to keep that is
    // told but fails nothing: the command itself goes on.
    void RememberCompressionFailed() {
        try {
            compressionmemory::Remember(options_.host, options_.port);
        } catch (const Exception& error) {
            console_.Status(error.Message());
        }
    }

    bool Groups(TQRNNTP& nntp) {
        const QByteArray filter = arguments_.value(0).toLocal8Bit();
        nntp.OnGroupListUpdate = [&](const QByteArray& name, int, int, bool) {
            if (GroupMatchesFilter(name, filter)) {
                out_.write(name + '\n');
            }
        };
        nntp.GetGroupList();
        // A list that was read ends with its "." line; a refused LIST leaves nothing, which
        // must not pass for a server without groups.
        if (nntp.GroupLines.IsEmpty()) {
            console_.Message(QStringLiteral("Group list refused: ") +
                             QString::fromLatin1(StripLineEnd(nntp.LastReply)));
            return false;
        }
        return true;
    }

    bool Summary(TQRNNTP& nntp) {
        TStoreCache* const cache = CacheFor(nntp);
        nntp.SetGroup(GroupArgument());
        const int first = nntp.FirstArticleNo;
        const int last = nntp.LastArticleNo;
        const int from = ListingStart(first, last);
        const TArticleRanges read = options_.unreadOnly
                                        ? Store().ReadMarks(cache->GroupId(GroupArgument()))
                                        : TArticleRanges();
        // The HEAD fall-back reports one summary per number from the start on.
        int nextNumber = options_.all ? first : std::max(from, first);
        nntp.OnHeaderList = [&](QObject*) {
            const int number = nextNumber++;
            const qint64 listed = nntp.HeaderLines.IsEmpty() ? 0 : SummaryNumber(nntp, number);
            if (!nntp.HeaderLines.IsEmpty() && !read.Contains(listed)) {
                List(listed, SummaryLine(nntp.HeaderLines, number));
            }
        };
        nntp.GetArticleList(options_.all, from);
        if (cache != nullptr) {
            try {
                cache->KeepListing();
            } catch (const EStoreError& error) {
                // The thread order is the store's: a listing it cannot keep has none.
                if (options_.threads) {
                    throw;
                }
                cache->OnStoreFailure(error);
            }
        }
        if (options_.threads) {
            PrintThreaded(cache->GroupId(GroupArgument()));
        }
        return true;
    }

    // The number of the summary the client reports: its first field, or for the HEAD
    // fall-back the number asked for.
    static qint64 SummaryNumber(const TQRNNTP& nntp, int asked) {
        const QByteArray& field = nntp.HeaderLines[0];
        const QByteArrayView prefix(nntpwire::kSummaryPrefixes[0]);
        bool ok = false;
        const qint64 number = field.startsWith(prefix)
                                  ? QByteArrayView(field).sliced(prefix.size()).toLongLong(&ok)
                                  : 0;
        return ok ? number : asked;
    }

    bool Article(TQRNNTP& nntp) {
        CacheFor(nntp);
        const bool byId = ByMessageId();
        const QByteArray id = byId ? MessageIdArgument() : QByteArray();
        int number = 0;
        if (!byId) {
            nntp.SetGroup(GroupArgument());
            number = ArticleNumberArgument();
        }
        // The body is read through the header's declarations, so a readable body takes the
        // whole article.
        if (options_.command == TCliCommand::Head) {
            byId ? nntp.GetArticleHeaderById(id) : nntp.GetArticleHeader(number);
        } else if (options_.command == TCliCommand::Body && !options_.decoded) {
            byId ? nntp.GetArticleBodyById(id) : nntp.GetArticleBody(number);
        } else {
            byId ? nntp.GetArticleById(id) : nntp.GetArticle(number);
        }
        PrintArticle(TDecodedArticle(nntp.HeaderLines, nntp.BodyLines));
        return true;
    }

    void PrintArticle(const TDecodedArticle& article) {
        const bool withHeader = options_.command != TCliCommand::Body;
        const bool withBody = options_.command != TCliCommand::Head;
        const bool both = withHeader && withBody;
        if (options_.decoded) {
            out_.write((withHeader ? DecodedHeaderText(article) : QByteArray()) +
                       (both ? "\n" : "") + (withBody ? DecodedBodyText(article) : QByteArray()));
        } else {
            out_.write((withHeader ? article.Header() : QByteArray()) + (both ? "\r\n" : "") +
                       (withBody ? article.Body() : QByteArray()));
        }
    }

    bool Extract() {
        const QString directory = arguments_[2];
        if (!QFileInfo(directory).isDir()) {
            throw Exception(QStringLiteral("No such directory: ") + directory);
        }
        QStringList problems;
        QStringList notices;
        const bool online = Online([&](TQRNNTP& nntp) {
            nntp.ParseAttachments = true;
            nntp.SetAttachmentPath(directory);
            nntp.SetGroup(GroupArgument());
            nntp.GetArticle(ArticleNumberArgument());
            for (int i = 0; i < nntp.AttachmentNames.Count(); ++i) {
                out_.write(nntp.AttachmentNames[i] + '\n');
            }
            problems = nntp.AttachmentProblems;
            notices = nntp.AttachmentNotices;
            return true;
        });
        // A part kept for its file is no failure; a damaged file is kept, but a script must not
        // take it for a good one.
        for (const QString& text : notices + problems) {
            console_.Message(text);
        }
        return online && problems.isEmpty();
    }

    bool Post() {
        TStringList lines;
        lines.SetText(ReadWholeFile(arguments_[0]));
        TExStringList header;
        TExStringList body;
        int i = 0;
        for (; i < lines.Count() && !lines[i].isEmpty(); ++i) {
            header.Add(lines[i]);
        }
        for (++i; i < lines.Count(); ++i) {
            body.Add(lines[i]);
        }
        // The client posts an attachment it cannot open as an empty block and carries on; a
        // job that posts unattended must not send an article without its file.
        TStringList attachments;
        for (const QString& path : options_.attachments) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                throw Exception(QStringLiteral("Cannot open file ") + path + QStringLiteral(": ") +
                                file.errorString());
            }
            attachments.Add(path.toLocal8Bit());
        }
        DeclareUtf8Article(header, body);
        return Online([&](TQRNNTP& nntp) {
            nntp.SetPostHeader(header);
            nntp.SetPostBody(body);
            nntp.SetPostAttachments(attachments);
            QString refusal;
            nntp.OnPostFailed = [&](QObject*, quint16, const QString& reply) { refusal = reply; };
            try {
                nntp.PostArticle();
            } catch (const NNTPError& error) {
                // The server's reply says why; it goes with the client's own text.
                if (refusal.isEmpty()) {
                    throw;
                }
                throw NNTPError(error.Message() + QStringLiteral(": ") +
                                QString::fromLatin1(StripLineEnd(refusal.toLatin1())));
            }
            out_.write(StripLineEnd(nntp.LastReply) + '\n');
            return true;
        });
    }

    bool Find() {
        QByteArray text = WithoutLeadingAsterisks(arguments_[0].toLocal8Bit());
        // Whole words, as the text views search them: a plain text between word boundaries; a
        // regular expression says for itself what it wants.
        if (options_.wholeWord && !text.isEmpty() && !HasRegexPrefix(text)) {
            text = "ZKRE:\\b" + WildcardToRegex(text) + "\\b";
        }
        const int messagesBefore = console_.MessageCount();
        for (;;) {
            QByteArray line = in_.readLine();
            if (line.isEmpty()) {
                return true;
            }
            if (MatchPatternCase(text, StripLineEnd(line), options_.caseSensitive)) {
                if (!line.endsWith('\n')) {
                    line += '\n';
                }
                out_.write(line);
            }
            // The engine reports an expression it cannot compile (or run) as a message; it
            // would say the same for every further line.
            if (console_.MessageCount() != messagesBefore) {
                return false;
            }
        }
    }

    bool Convert() {
        QFile input(arguments_[1]);
        if (!input.open(QIODevice::ReadOnly)) {
            throw Exception(QStringLiteral("Cannot open file ") + input.fileName() +
                            QStringLiteral(": ") + input.errorString());
        }
        // Written aside and put in place only when the conversion finished: a failed decoding
        // leaves no half file behind, and OUT may even name IN.
        QSaveFile output(arguments_[2]);
        if (!output.open(QIODevice::WriteOnly)) {
            throw Exception(QStringLiteral("Cannot create file ") + output.fileName() +
                            QStringLiteral(": ") + output.errorString());
        }
        TQRUUProcessor codec;
        codec.Method = static_cast<UUMethods>(CodecMethodNamed(arguments_[0]));
        codec.InputStream = &input;
        codec.OutputStream = &output;
        if (options_.command == TCliCommand::Encode) {
            codec.Encode();
        } else {
            codec.Decode();
        }
        if (!output.commit()) {
            throw Exception(QStringLiteral("Cannot write file ") + output.fileName() +
                            QStringLiteral(": ") + output.errorString());
        }
        return true;
    }

    const TCliOptions& options_;
    const QStringList& arguments_;
    QIODevice& out_;
    QIODevice& in_;
    TCliConsole& console_;
    std::unique_ptr<TNewsStore> store_;
    std::unique_ptr<TStoreCache> cache_;
    // summary --threads: the lines listed, printed once the thread order is known.
    struct TListedLine {
        qint64 number;
        QByteArray line;
    };
    QList<TListedLine> listed_;
};

} // namespace

bool GroupMatchesFilter(const QByteArray& name, const QByteArray& filter) {
    return filter.isEmpty() || Latin1Lower(name).contains(Latin1Lower(filter));
}

int RunCli(const QStringList& arguments, const QByteArray& environmentPassword,
           const TCliStreams& streams) {
    const TParsedCommandLine parsed = ParseCommandLine(arguments, environmentPassword);
    TCliConsole console(streams.err, parsed.options.password.isEmpty() ? environmentPassword
                                                                       : parsed.options.password);
    if (!parsed.error.isEmpty()) {
        console.Message(parsed.error + QStringLiteral(" (zknews-cli --help lists the commands)"));
        return kExitUsage;
    }
    try {
        return TCommandRun(parsed.options, streams, console).Run() ? kExitSuccess : kExitFailure;
    } catch (const Exception& error) {
        console.Message(error.Message());
    } catch (const std::exception& error) {
        console.Message(QString::fromLocal8Bit(error.what()));
    }
    return kExitFailure;
}
