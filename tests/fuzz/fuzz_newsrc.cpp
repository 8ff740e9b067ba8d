// The .newsrc reader of newsrc import, and the article ranges of each line: a file read without
// failing writes back, line by line, into text that reads as the same groups and marks.
#include "fuzzsupport.h"
#include "store/newsrc.h"
#include "store/storeerror.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = fuzz::Bytes(data, size);
    QList<TNewsrcEntry> entries;
    try {
        entries = ParseNewsrc(text);
    } catch (const EStoreError& error) {
        fuzz::Require(error.Message().startsWith(QStringLiteral("line ")),
                      "a refused .newsrc names the line");
        return 0;
    }
    QByteArray written;
    for (const TNewsrcEntry& entry : entries) {
        fuzz::Require(!entry.name.isEmpty(), "every group has a name");
        written += NewsrcLine(entry) + '\n';
    }
    fuzz::Require(ParseNewsrc(written) == entries, "a .newsrc reads back as written");
    return 0;
}
