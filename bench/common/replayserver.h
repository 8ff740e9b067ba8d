#pragma once

// A news server for the benchmarks that is never the bottleneck: it holds one group's overview
// reply in memory and serves it on 127.0.0.1, so that what a benchmark measures is the client's
// own cost. The reply is captured once from a real server or generated in any size.
#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <map>
#include <thread>

namespace bench {

// One group's overview: its data lines as the server sends them (dot-stuffed, each ending in
// CR LF, without the final "." line) and where each article's line starts.
struct TOverview {
    QByteArray group;
    QByteArray lines;
    QList<int> numbers;
    QList<qsizetype> offsets;

    int First() const { return numbers.isEmpty() ? 0 : numbers.first(); }
    int Last() const { return numbers.isEmpty() ? 0 : numbers.last(); }
    // The data lines of the articles first..last.
    QByteArrayView Range(int first, int last) const;
};

// Reads the whole group's XOVER reply from a news server; exits the benchmark when the server
// cannot give it.
TOverview CaptureOverview(const QString& host, quint16 port, const QByteArray& group);

// count summaries shaped like those of the seeded zk.test.big (topics of five articles, each
// reply naming the articles before it), numbered from 1.
TOverview GenerateOverview(const QByteArray& group, int count);

// What a replay server offers beyond the listing.
struct TReplayOptions {
    // CAPABILITIES lists COMPRESS DEFLATE, and COMPRESS DEFLATE compresses the rest of the
    // session. The overview's ranges are compressed once and kept, so that a compressed listing
    // costs the server no more than a plain one from the second time on.
    bool offerCompression = false;
};

// Serves one overview on an ephemeral port of 127.0.0.1 from a thread of its own, one
// connection at a time: the greeting, MODE READER, CAPABILITIES, LIST (the one group), GROUP,
// XOVER and OVER (a range, or the whole group), ARTICLE, HEAD and BODY of a listed number (an
// article made from its summary, with a body of about 2 KB), COMPRESS DEFLATE when offered,
// QUIT; anything else is answered 500. Commands sent ahead of their replies are answered in
// order.
class TReplayServer {
public:
    explicit TReplayServer(TOverview overview, TReplayOptions options = {});
    ~TReplayServer();
    TReplayServer(const TReplayServer&) = delete;
    TReplayServer& operator=(const TReplayServer&) = delete;

    quint16 Port() const { return port_; }
    const TOverview& Overview() const { return overview_; }

private:
    // A reply line or list, and for an overview the data lines and the "." line apart, so
    // that they are sent from where they are held.
    struct TReply {
        QByteArray head;
        QByteArrayView data = {};
        QByteArray tail = {};
        bool quit = false;
    };

    void AcceptLoop();
    void Serve(int connection);
    TReply Answer(const QByteArray& command) const;
    TReply Article(const QByteArray& verb, int number) const;
    // The reply's bytes deflated as a run of their own that ends in a sync flush, which a
    // session's inflater reads as the continuation of its stream.
    QByteArray Compressed(const TReply& reply);

    TOverview overview_;
    TReplayOptions options_;
    // The overview ranges sent compressed so far, by where their bytes lie.
    std::map<std::pair<const char*, qsizetype>, QByteArray> compressedRanges_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace bench
