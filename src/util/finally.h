#pragma once

// Runs body, then the finally step, also when body raised (the exception then goes on).
// An exception from the finally step itself replaces the one in flight, as a handler's
// exception in a completion event should.
template <typename Body, typename Finally>
void WithFinally(Body&& body, Finally&& finally) {
    try {
        body();
    } catch (...) {
        finally();
        throw;
    }
    finally();
}
