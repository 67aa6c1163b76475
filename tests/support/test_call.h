// test_call.h -- the library's state and contexts for tests that drive its internals:
// TestCall is a library state of the test's own with one call's context on it, as an
// export builds one, under the names the tests use (session and archive live between
// calls; stream, cipher, encoder and decoder are the call's scratch). OpCall and HideCall
// build a fresh context for one operation on a given state, as the exports do; the
// context lives until the end of the statement that uses it.
#pragma once

#include <memory>

#include "api/library_state.h"
#include "hide/hide_state.h"
#include "ops/context.h"

namespace hedgerow::testing {

struct TestCall {
    LibraryState state;
    ops::Context call {state.session, state.archive};
    Session& session = state.session;
    archive::ArchiveState& archive = state.archive;
    codec::StreamState& stream = call.stream;
    crypto::CipherState& cipher = call.stream.cipher;
    codec::EncoderState& encoder = call.encoder;
    codec::DecoderState& decoder = call.decoder;

    TestCall() = default;
    TestCall(const TestCall&) = delete;
    TestCall& operator=(const TestCall&) = delete;
};

inline std::unique_ptr<ops::Context> OpCall(LibraryState& st) {
    return std::make_unique<ops::Context>(st.session, st.archive);
}

inline std::unique_ptr<hide::Context> HideCall(LibraryState& st) {
    return std::make_unique<hide::Context>(st.session, st.archive);
}

}  // namespace hedgerow::testing
