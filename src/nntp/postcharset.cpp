#include "nntp/postcharset.h"

#include "codec/charsets.h"
#include "codec/encodedwords.h"

const char* const kMimeDeclarationNames[3] = {"MIME-Version", "Content-Type",
                                              "Content-Transfer-Encoding"};

namespace {

const char* const kMimeDeclarationValues[3] = {"1.0", "text/plain; charset=UTF-8", "8bit"};

bool IsEncodable(const QByteArray& name) {
    return name.compare("Message-ID", Qt::CaseInsensitive) != 0 &&
           name.compare("References", Qt::CaseInsensitive) != 0 &&
           name.compare("Newsgroups", Qt::CaseInsensitive) != 0;
}

} // namespace

void DeclareUtf8Article(TExStringList& header, const TStringList& body) {
    const QByteArray text = header.Text() + body.Text();
    if (IsAscii(text) || !IsValidUtf8(text)) {
        return;
    }
    for (int i = 0; i < header.Count(); ++i) {
        QByteArray name;
        if (!TExStringList::NameOf(header[i], name) || IsAscii(header[i]) || !IsEncodable(name)) {
            continue;
        }
        QByteArray value = header[i].mid(name.size() + 1);
        if (value.startsWith(' ')) {
            value.remove(0, 1);
        }
        header.SetString(i, name + ": " + EncodeEncodedWords(QString::fromUtf8(value), name.size()));
    }
    for (int k = 0; k < 3; ++k) {
        if (header.IndexOfName(kMimeDeclarationNames[k]) < 0) {
            header.SetValue(kMimeDeclarationNames[k], kMimeDeclarationValues[k]);
        }
    }
}
