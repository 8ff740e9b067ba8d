#pragma once

#include <QString>

// Where the news store lives: $ZKNEWS_STORE when set and not empty, else
// $XDG_DATA_HOME/zknews/news.db ($XDG_DATA_HOME defaulting to ~/.local/share). The folder is
// created when missing; a folder that cannot be made fails with an EStoreError naming it.
QString NewsStorePath();
