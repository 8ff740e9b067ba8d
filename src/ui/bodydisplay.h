#pragma once

#include "nntp/attachmentscan.h"
#include "util/stringlist.h"

#include <QByteArray>
#include <QString>

// The texts the reading page shows for an article, from its header and body lines as the news
// client delivers them (or as the window's caches keep them: the same bytes).
struct TArticleDisplay {
    // The header pane: the header lines as they came, a field with encoded words decoded.
    QString header;
    // The body pane: the body read through its MIME structure, each text part's transfer
    // encoding undone and its charset converted, trimmed of blanks and control characters at
    // both ends. A Base64 body that begins with "~" is saved as a "zk64_" file in the
    // program directory instead, and this is "~" and the file's name.
    QString body;
    // The charset the body declares that could not be read; empty when there is none. The body
    // is then shown as UTF-8 when it is valid UTF-8, else as Windows-1252.
    QByteArray unknownCharset;
};

// Lines end with LF, as the panes hold them.
TArticleDisplay ArticleDisplay(const TStringList& headerLines, const TStringList& bodyLines);

// As ArticleDisplay, with the lines of each file found in the body (FindAttachments) replaced
// by its one placeholder line; a body that is one file whole is that line alone.
TArticleDisplay ArticleDisplay(const TStringList& headerLines, const TStringList& bodyLines,
                               const QList<TFoundAttachment>& files);
