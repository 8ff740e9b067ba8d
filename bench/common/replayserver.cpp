#include "replayserver.h"

#include "loopbacksockets.h"
#include "rawxover.h"

#include <QScopeGuard>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

namespace bench {

namespace {

// Fills in the article numbers and line offsets of overview.lines.
void IndexLines(TOverview& overview) {
    overview.numbers.clear();
    overview.offsets.clear();
    for (qsizetype start = 0; start < overview.lines.size();) {
        const qsizetype end = overview.lines.indexOf('\n', start);
        const qsizetype tab = overview.lines.indexOf('\t', start);
        overview.numbers.append(QByteArrayView(overview.lines).sliced(start, tab - start).toInt());
        overview.offsets.append(start);
        start = end + 1;
    }
}

// Deflates data as one run that ends in a sync flush (no final block), so that runs made apart
// join into one stream.
QByteArray DeflateRun(QByteArrayView data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        Fail("replay server deflateInit2");
    }
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, data.size())) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_SYNC_FLUSH) != Z_OK || stream.avail_in != 0) {
        Fail("replay server deflate");
    }
    out.truncate(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return out;
}

// What a compressing client sends, inflated into pending; false on data that does not inflate.
bool InflateInto(z_stream& stream, const char* data, size_t size, QByteArray& pending) {
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    stream.avail_in = static_cast<uInt>(size);
    char out[16384];
    do {
        stream.next_out = reinterpret_cast<Bytef*>(out);
        stream.avail_out = sizeof out;
        const int status = inflate(&stream, Z_SYNC_FLUSH);
        if (status != Z_OK && status != Z_BUF_ERROR) {
            return false;
        }
        pending.append(out, static_cast<qsizetype>(sizeof out - stream.avail_out));
    } while (stream.avail_out == 0);
    return true;
}

// The overview line's tab-separated fields: number, Subject, From, Date, Message-ID,
// References, bytes, lines.
QList<QByteArray> SummaryFields(QByteArrayView line) {
    return line.trimmed().toByteArray().split('\t');
}

} // namespace

QByteArrayView TOverview::Range(int first, int last) const {
    const auto from = std::lower_bound(numbers.cbegin(), numbers.cend(), first);
    const auto to = std::upper_bound(numbers.cbegin(), numbers.cend(), last);
    if (from >= to) {
        return {};
    }
    const qsizetype begin = offsets[from - numbers.cbegin()];
    const qsizetype end = to == numbers.cend() ? lines.size() : offsets[to - numbers.cbegin()];
    return QByteArrayView(lines).sliced(begin, end - begin);
}

TOverview CaptureOverview(const QString& host, quint16 port, const QByteArray& group) {
    QTcpSocket socket;
    const QList<QByteArray> words = OpenGroup(socket, host, port, group);
    socket.write("XOVER " + words.value(2) + '-' + words.value(3) + "\r\n");
    if (!ReadLine(socket).startsWith("224")) {
        std::fprintf(stderr, "%s refuses XOVER for %s\n", qPrintable(host), group.constData());
        std::exit(1);
    }
    TOverview overview;
    overview.group = group;
    while (!overview.lines.endsWith("\r\n.\r\n") && overview.lines != ".\r\n") {
        if (!socket.waitForReadyRead(60000)) {
            std::fprintf(stderr, "capture: %s\n", qPrintable(socket.errorString()));
            std::exit(1);
        }
        overview.lines += socket.readAll();
    }
    overview.lines.chop(3);
    socket.write("QUIT\r\n");
    socket.waitForBytesWritten(1000);
    IndexLines(overview);
    return overview;
}

TOverview GenerateOverview(const QByteArray& group, int count) {
    static const char* const kPosters[] = {"Alice Example <alice@zk.test>",
                                           "bob@zk.test (Bob Example)",
                                           "Carol Example <carol@zk.test>",
                                           "Dave Example <dave@zk.test>",
                                           "erin@zk.test",
                                           "Frank Example <frank@zk.test>"};
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    TOverview overview;
    overview.group = group;
    overview.lines.reserve(static_cast<qsizetype>(count) * 200);
    for (int n = 1; n <= count; ++n) {
        const int root = n - (n - 1) % 5;
        const int topic = (root - 1) / 5 + 1;
        QByteArray references;
        for (int earlier = root; earlier < n; ++earlier) {
            references +=
                (earlier == root ? "<big." : " <big.") + QByteArray::number(earlier) + "@zk.test>";
        }
        const int minutes = n;
        char date[64];
        std::snprintf(date, sizeof date, "%s, %02d Jan 2024 %02d:%02d:00 +0000",
                      kDays[(minutes / 1440) % 7], 1 + (minutes / 1440) % 28, (minutes / 60) % 24,
                      minutes % 60);
        overview.lines += QByteArray::number(n) + '\t' + (n == root ? "" : "Re: ") + "Topic " +
                          QByteArray::number(topic) + " in " + group + '\t' + kPosters[n % 6] +
                          '\t' + date + "\t<big." + QByteArray::number(n) + "@zk.test>\t" +
                          references + '\t' + QByteArray::number(440 + references.size()) +
                          "\t5\tXref: news.zk.test " + group + ':' + QByteArray::number(n) + "\r\n";
    }
    IndexLines(overview);
    return overview;
}

TReplayServer::TReplayServer(TOverview overview, TReplayOptions options)
    : overview_(std::move(overview)), options_(options) {
    listener_ = ListenOnLoopback(port_, "replay server");
    thread_ = std::thread([this] { AcceptLoop(); });
}

TReplayServer::~TReplayServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void TReplayServer::AcceptLoop() {
    while (WaitReadable(listener_, stopping_)) {
        const int connection = ::accept(listener_, nullptr, nullptr);
        if (connection >= 0) {
            Serve(connection);
            ::close(connection);
        }
    }
}

void TReplayServer::Serve(int connection) {
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!SendAll(connection, "200 zk replay server ready (posting prohibited)\r\n")) {
        return;
    }
    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK) {
        Fail("replay server inflateInit2");
    }
    const auto endInflater = qScopeGuard([&] { inflateEnd(&inflater); });
    bool compressing = false;
    QByteArray pending;
    bool quit = false;
    while (!quit && WaitReadable(connection, stopping_)) {
        char buffer[16384];
        const ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
            return;
        }
        if (!compressing) {
            pending.append(buffer, received);
        } else if (!InflateInto(inflater, buffer, static_cast<size_t>(received), pending)) {
            return;
        }
        for (qsizetype end = pending.indexOf('\n'); end >= 0 && !quit;
             end = pending.indexOf('\n')) {
            const QByteArray command = pending.left(end).trimmed();
            const TReply reply = Answer(command);
            pending.remove(0, end + 1);
            quit = reply.quit;
            const bool sent = compressing ? SendAll(connection, Compressed(reply))
                                          : SendAll(connection, reply.head) &&
                                                SendAll(connection, reply.data) &&
                                                SendAll(connection, reply.tail);
            if (!sent) {
                return;
            }
            // Whatever follows the command that started compression was sent compressed.
            if (!compressing && reply.head.startsWith("206")) {
                compressing = true;
                const QByteArray rest = std::exchange(pending, {});
                if (!InflateInto(inflater, rest.data(), static_cast<size_t>(rest.size()),
                                 pending)) {
                    return;
                }
            }
        }
    }
}

QByteArray TReplayServer::Compressed(const TReply& reply) {
    QByteArray data;
    if (!reply.data.isEmpty()) {
        const std::pair key{reply.data.data(), reply.data.size()};
        auto kept = compressedRanges_.find(key);
        if (kept == compressedRanges_.end()) {
            kept = compressedRanges_.emplace(key, DeflateRun(reply.data)).first;
        }
        data = kept->second;
    }
    return DeflateRun(reply.head) + data + DeflateRun(reply.tail);
}

TReplayServer::TReply TReplayServer::Article(const QByteArray& verb, int number) const {
    const QByteArrayView line = overview_.Range(number, number);
    if (line.isEmpty()) {
        return {"423 no such article number in this group\r\n"};
    }
    const QList<QByteArray> fields = SummaryFields(line);
    QByteArray header = "Path: replay!not-for-mail\r\nFrom: " + fields.value(2) +
                        "\r\nNewsgroups: " + overview_.group + "\r\nSubject: " + fields.value(1) +
                        "\r\nDate: " + fields.value(3) + "\r\nMessage-ID: " + fields.value(4) +
                        "\r\n";
    if (!fields.value(5).isEmpty()) {
        header += "References: " + fields.value(5) + "\r\n";
    }
    QByteArray body;
    for (int i = 0; i < 30; ++i) {
        body += "Line " + QByteArray::number(i + 1) + " of article " + QByteArray::number(number) +
                ", a body of plain text as most posts are.\r\n";
    }
    const QByteArray id = fields.value(4);
    const QByteArray status = ' ' + QByteArray::number(number) + ' ' + id;
    if (verb == "HEAD") {
        return {"221" + status + " head\r\n" + header + ".\r\n"};
    }
    if (verb == "BODY") {
        return {"222" + status + " body\r\n" + body + ".\r\n"};
    }
    return {"220" + status + " article\r\n" + header + "\r\n" + body + ".\r\n"};
}

TReplayServer::TReply TReplayServer::Answer(const QByteArray& command) const {
    const QList<QByteArray> words = command.split(' ');
    const QByteArray verb = words.value(0).toUpper();
    const QByteArray range =
        QByteArray::number(overview_.First()) + ' ' + QByteArray::number(overview_.Last());
    if (verb == "QUIT") {
        return {"205 bye\r\n", {}, {}, true};
    }
    if (verb == "MODE") {
        return {"200 reader\r\n"};
    }
    if (verb == "CAPABILITIES") {
        return {QByteArray("101 capability list follows\r\nVERSION 2\r\nREADER\r\nOVER\r\n") +
                (options_.offerCompression ? "COMPRESS DEFLATE\r\n" : "") + ".\r\n"};
    }
    if (verb == "COMPRESS" && options_.offerCompression) {
        return {"206 compression active\r\n"};
    }
    if (verb == "ARTICLE" || verb == "HEAD" || verb == "BODY") {
        return Article(verb, words.value(1).toInt());
    }
    if (verb == "LIST" && words.size() == 1) {
        return {"215 list follows\r\n" + overview_.group + ' ' +
                QByteArray::number(overview_.Last()) + ' ' + QByteArray::number(overview_.First()) +
                " y\r\n.\r\n"};
    }
    if (verb == "GROUP") {
        if (words.value(1) != overview_.group) {
            return {"411 no such group\r\n"};
        }
        return {"211 " + QByteArray::number(overview_.numbers.size()) + ' ' + range + ' ' +
                overview_.group + "\r\n"};
    }
    if (verb == "XOVER" || verb == "OVER") {
        const QList<QByteArray> bounds = words.value(1).split('-');
        const int first = words.size() > 1 ? bounds.value(0).toInt() : overview_.First();
        const int last = bounds.size() > 1 && !bounds[1].isEmpty() ? bounds[1].toInt()
                         : words.size() > 1                        ? first
                                                                   : overview_.Last();
        return {"224 overview follows\r\n", overview_.Range(first, last), ".\r\n"};
    }
    return {"500 command not understood\r\n"};
}

} // namespace bench
