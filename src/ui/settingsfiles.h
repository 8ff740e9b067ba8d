#pragma once

#include "net/nwire.h"
#include "nntp/qrnntp.h"
#include "ui/postfields.h"

#include <QByteArray>
#include <QString>

// The reader's two settings files, both in the program directory, both text in UTF-8. Files
// written by earlier versions are Windows-1252; a file that is not valid UTF-8 is read as that,
// so the one written next is UTF-8.
//
// "zknewsreader.cfg", the host history: one host name per line, each ended by CR LF, in the
// order of the host list.
//
// "zknewsreader.cf2", the account and identity: four lines joined by CR LF with no line end
// after the last: From address, Reply-To address, user ID, password (in plain text, so the
// file is kept readable and writable by its owner only). Then, only when there is something
// to say, each on a line of its own after a CR LF:
//   security tls                     (or starttls; no such line means none)
//   offline                          Work offline is checked
//   no-compress                      Compress is cleared: the server is not asked to compress
//   pipeline N                       requests sent ahead of their replies, 1 to 64, when not
//                                    the 16 of the default
//   subscribed-only                  the group list shows the subscribed groups only
//   trust HOST PORT SHA256:HEX       a certificate the user chose to always trust for a server
//   signature PATH                   the signature file, when not ~/.signature (an empty PATH:
//                                    none)
//   attachment-folder PATH           the folder attachments were last saved into
// A reader that knows only the four lines ignores the others, and a file without them reads
// as security none, online, compressed, 16 requests ahead, with no trusted certificates.

inline constexpr char kHostHistoryFile[] = "zknewsreader.cfg";
inline constexpr char kAccountFile[] = "zknewsreader.cf2";

struct TAccountSettings {
    QByteArray fromAddress;
    QByteArray replyTo;
    QByteArray userId;
    QByteArray password;
    TSecurity security = TSecurity::None;
    TCertificatePins trustedCertificates;
    bool workOffline = false;
    bool subscribedOnly = false;
    // The file whose text goes under a post; "~/" stands for the home folder.
    QByteArray signatureFile = kDefaultSignatureFile;
    QByteArray attachmentFolder;
    // COMPRESS DEFLATE where the server offers it.
    bool compress = true;
    // Requests sent ahead of their replies.
    int pipelineDepth = TQRNNTP::kDefaultPipelineDepth;

    bool operator==(const TAccountSettings&) const = default;
};

// The word a security choice is saved as ("none", "tls", "starttls"), and back; a word that
// names none reads as TSecurity::None.
QString SecurityName(TSecurity security);
TSecurity SecurityNamed(const QString& name);

// The bytes of a settings file as UTF-8: as they are when they are valid UTF-8, otherwise read
// as Windows-1252.
QByteArray SettingsFileUtf8(const QByteArray& fileBytes);

// The four fields of the account file's text (in UTF-8): field n is the text between the (n-1)-th
// and the n-th LF, trimmed of blanks and control characters at both ends (which drops the CR).
// Missing fields are empty. Of the lines after the fourth, those that say security, offline,
// no-compress, pipeline, subscribed-only, trust, signature and attachment-folder are read; others
// are ignored.
TAccountSettings ParseAccountSettings(const QByteArray& text);

// The account file's text for settings.
QByteArray AccountSettingsText(const TAccountSettings& settings);

// Writes data as the whole file name, which is created, or first restricted, to be readable
// and writable by its owner only, so that its content is never open to others. True when
// written.
bool SaveOwnerOnlyFile(const QString& name, const QByteArray& data);
