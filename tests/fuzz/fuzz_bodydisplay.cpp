// The reading page's texts: the decoded article's header fields, MIME parts, transfer
// encodings, charsets and encoded words, walked as the window and the command line read them.
#include "codec/encodedwords.h"
#include "fuzzsupport.h"
#include "nntp/decodedarticle.h"
#include "ui/bodydisplay.h"
#include "util/filehelpers.h"

#include <QFile>

namespace {

// A Base64 body marked with "~" is saved as a file in the program directory; the target
// removes each such file again, and only those.
void RemoveSavedFile(const QString& shown) {
    if (!shown.startsWith(u'~')) {
        return;
    }
    const QString name = shown.mid(1);
    if (name.startsWith(ProgramDir() + QStringLiteral("zk64_")) && !name.contains(u'\n')) {
        QFile::remove(name);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::TArticle input = fuzz::SplitArticle(fuzz::Bytes(data, size));
    RemoveSavedFile(ArticleDisplay(input.header, input.body).body);
    const TDecodedArticle article(input.header, input.body);
    for (const THeaderField& field : article.Fields()) {
        // A decoded field is one line, whatever its encoded words carry.
        if (DecodeEncodedWords(field.value).contains(u'\n')) {
            __builtin_trap();
        }
    }
    for (const TArticlePart& part : article.Parts()) {
        part.Text();
    }
    return 0;
}
