// The readers of the two settings files: the host history (one host per line) and the account
// file (four fields).
#include "fuzzsupport.h"
#include "ui/settingsfiles.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Start(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text = fuzz::Bytes(data, size);

    TStringList hosts;
    hosts.SetText(text);
    TStringList reread;
    reread.SetText(hosts.Text());
    fuzz::Require(reread.Text() == hosts.Text(), "the host history reads back as saved");

    const TAccountSettings account = ParseAccountSettings(text);
    fuzz::Require(ParseAccountSettings(AccountSettingsText(account)) == account,
                  "the account file reads back as saved");
    return 0;
}
