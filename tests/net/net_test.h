#pragma once
// What the net tests share: the scripted server, the test helpers, and the message of what a
// body raised.
#include <functional>
#include <string>

#include "tests/net/script_server.h"
#include "tests/support/support.h"

namespace nettest {

// The Message() of the E that body raises, or "(nothing raised)".
template <class E> std::string MessageOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const E& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

} // namespace nettest
