#pragma once

#include "store/storeerror.h"

#include <QString>
#include <gtest/gtest.h>

// The message of the EStoreError that call throws; fails the test when it throws none.
template <typename Call> QString StoreFailureOf(Call call) {
    try {
        call();
    } catch (const EStoreError& error) {
        return error.Message();
    }
    ADD_FAILURE() << "no store error";
    return {};
}
