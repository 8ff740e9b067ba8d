// The reading pane's body decoding: quoted-printable and Base64 bodies made readable.
#include "fuzzsupport.h"
#include "ui/bodydisplay.h"
#include "util/filehelpers.h"

#include <QFile>

namespace {

// A Base64 body marked with "~" is saved as a file in the program directory; the target
// removes each such file again, and only those.
void RemoveSavedFile(const QByteArray& shown) {
    if (!shown.startsWith('~')) {
        return;
    }
    const QString name = QFile::decodeName(shown.mid(1));
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
    const fuzz::TArticle article = fuzz::SplitArticle(fuzz::Bytes(data, size));
    RemoveSavedFile(BodyForDisplay(article.header.Text(), article.body));
    return 0;
}
