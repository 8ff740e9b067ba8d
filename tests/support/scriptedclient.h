#pragma once

// A client of the connection layer or the news client pointed at a scripted fake server, with
// every box answered by the recording presenter. A protocol test needs three lines of setup:
//
//   ScriptedNntp c({script::Greeting() + script::Group("a.b", 1, 1)});
//   c.nntp.Connect();
//   c.nntp.SetGroup("a.b");
//   c.ExpectScriptPlayed();

#include "fakeserver.h"
#include "net/nwire.h"
#include "nntp/qrnntp.h"
#include "recordingpresenter.h"
#include "script.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <initializer_list>

// The fake server, given one conversation per connection it will accept.
struct ScriptedServer {
    FakeServer server;
    TRecordingPresenter presenter;

    explicit ScriptedServer(std::initializer_list<QByteArray> conversations) {
        for (const QByteArray& conversation : conversations) {
            server.AddScript(conversation);
        }
    }

    void ExpectScriptPlayed() const { ::ExpectScriptPlayed(server); }

    // Points a connection (TNetwire or a client derived from it) at the server. A time-out of
    // 10 s is far above any reply the scripts hold back, so only a real hang reaches it.
    void PointAt(TNetwire& wire, TSecurity security = TSecurity::None, int timeOut = 10000) {
        wire.Host = QStringLiteral("127.0.0.1");
        wire.Port = server.Port();
        wire.TimeOut = timeOut;
        wire.Security = security;
        if (security != TSecurity::None) {
            server.UseCertificate(QStringLiteral("good"));
            wire.ExtraCaCertificates = TestCertificateAuthority();
        }
    }
};

// The connection layer alone.
struct ScriptedWire : ScriptedServer {
    TNetwire wire;

    explicit ScriptedWire(std::initializer_list<QByteArray> conversations,
                          TSecurity security = TSecurity::None)
        : ScriptedServer(conversations) {
        PointAt(wire, security);
    }
};

// The news client, recording the events it raises in the order raised.
struct ScriptedNntp : ScriptedServer {
    TQRNNTP nntp;
    QStringList events;

    explicit ScriptedNntp(std::initializer_list<QByteArray> conversations,
                          TSecurity security = TSecurity::None)
        : ScriptedServer(conversations) {
        PointAt(nntp, security);
        nntp.OnConnect = [this](QObject*) { events << QStringLiteral("connect"); };
        nntp.OnGroupSelect = [this](QObject*) { events << QStringLiteral("group"); };
        nntp.OnAuthenticationFailed = [this](QObject*) { events << QStringLiteral("authfailed"); };
        nntp.OnInvalidArticle = [this](QObject*) { events << QStringLiteral("invalid"); };
        nntp.OnArticle = [this](QObject*) { events << QStringLiteral("article"); };
        nntp.OnHeader = [this](QObject*) { events << QStringLiteral("header"); };
        nntp.OnBody = [this](QObject*) { events << QStringLiteral("body"); };
    }
};
