#include "ui/bodydisplay.h"

#include "nntp/decodedarticle.h"
#include "util/texthelpers.h"

namespace {

// The panes end their lines with LF.
QString WithPaneLineEnds(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A Base64 body that begins with "~" is saved as a file; the pane shows "~" and its name.
// Empty for any other body, or when the text is no Base64.
QString SavedBase64File(const TDecodedArticle& article) {
    if (article.Parts().size() != 1 || article.Parts()[0].transferEncoding != "base64") {
        return QString();
    }
    const QByteArray text = TrimBlanksAndControls(article.Parts()[0].encoded);
    return text.startsWith('~') ? QString::fromLocal8Bit(DecodeBase64Text(text)) : QString();
}

} // namespace

TArticleDisplay ArticleDisplay(const TStringList& headerLines, const TStringList& bodyLines) {
    const TDecodedArticle article(headerLines, bodyLines);
    TArticleDisplay display;
    display.header = WithPaneLineEnds(HeaderDisplayText(headerLines));
    display.body = SavedBase64File(article);
    if (display.body.isEmpty()) {
        display.body =
            WithPaneLineEnds(TrimBlanksAndControls(article.BodyText(&display.unknownCharset)));
    }
    return display;
}

TArticleDisplay ArticleDisplay(const TStringList& headerLines, const TStringList& bodyLines,
                               const QList<TFoundAttachment>& files) {
    if (files.isEmpty()) {
        return ArticleDisplay(headerLines, bodyLines);
    }
    TArticleDisplay display = ArticleDisplay(headerLines, BodyWithPlaceholders(bodyLines, files));
    // The header declares the body a file: read as such, it would show as it came.
    const TFoundAttachment& first = files.first();
    if (files.size() == 1 && first.kind == TFoundAttachment::TKind::Mime &&
        first.contentLine == 0) {
        display.body = first.PlaceholderLine();
        display.unknownCharset.clear();
    }
    return display;
}
