#pragma once

#include "util/exception.h"

// A failure of the local news store: the file cannot be opened, is not a database or is
// damaged, a statement failed, or a value read or given does not make sense. The message names
// the file where there is one.
class EStoreError : public Exception {
public:
    using Exception::Exception;
};
