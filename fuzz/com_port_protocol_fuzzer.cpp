// The client and the server of the network serial protocol on bytes from
// anywhere. Each end is fed the input twice, in the pieces the input asks
// for and all at once, and both must come out the same: how the network
// cuts the stream must never change what it means. Whatever the input, the
// data out is never longer than the input, the answers queued stay within
// their bound, and every request kept is within the bounds of its queue.
//
// Input: four bytes that give the piece sizes, used in turn (each byte
// plus one), then the bytes from the network.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "com_port_protocol.h"
#include "com_port_server.h"
#include "fuzz_check.h"

namespace {

using tarn::driver::remote::Answer;
using tarn::driver::remote::ComPortClient;
using tarn::driver::remote::ComPortServer;
using tarn::driver::remote::ComRequest;
using tarn::driver::remote::kMaxQueuedAnswers;
using tarn::driver::remote::kMaxQueuedRequests;
using tarn::driver::remote::kMaxSubnegotiation;
using tarn::fuzz::Quoted;
using tarn::fuzz::Require;

struct Input {
    std::size_t pieces[4] = {1, 1, 1, 1};
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

// Feeds `input` to a fresh end in its pieces (or whole) and gives the data
// received and the bytes queued in answer, both checked for their bounds.
template <typename End>
void Feed(End& end, const Input& input, bool inPieces, std::string& data, std::string& answers) {
    end.TakeOutgoing();  // the opening negotiation, which is the end's own
    std::size_t at = 0;
    for (int turn = 0; at < input.size; ++turn) {
        std::size_t piece = inPieces ? input.pieces[turn % 4] : input.size;
        if (piece > input.size - at) piece = input.size - at;
        end.Receive(input.bytes + at, piece, data);
        at += piece;
    }
    answers = end.TakeOutgoing();
    Require(data.size() <= input.size, "more data out than bytes in");
    Require(answers.size() <= kMaxQueuedAnswers,
            "the answers grew past their bound: " + std::to_string(answers.size()) + " bytes");
}

// Everything the client knows of the server, as one string to compare.
std::string StateOf(ComPortClient& client) {
    std::string state;
    const Answer answers[] = {client.BaudRate(), client.DataSize(), client.Parity(),
                              client.StopSize(), client.Flow(),     client.Break(),
                              client.Dtr(),      client.Rts(),      client.InboundFlow(),
                              client.Purge()};
    for (const Answer& answer : answers) {
        state += answer.answered ? std::to_string(answer.value) : "-";
        state += ' ';
    }
    const auto modem = client.ModemState();
    state += modem ? std::to_string(*modem) : "-";
    state += ' ' + std::to_string(client.TakeLineErrors());
    state += client.SendingSuspended() ? " suspended" : " sending";
    state += client.ComPortAgreed() ? " agreed" : "";
    state += client.ComPortRefused() ? " refused" : "";
    return state;
}

std::string RequestsOf(ComPortServer& server) {
    std::string requests;
    std::size_t count = 0;
    while (const auto request = server.TakeRequest()) {
        Require(++count <= kMaxQueuedRequests, "more requests kept than the queue holds");
        Require(request->text.size() <= kMaxSubnegotiation, "a signature past the bound");
        requests += std::to_string(static_cast<int>(request->command)) + ':' +
                    std::to_string(request->value) + ':' + Quoted(request->text) + ' ';
    }
    requests += server.ComPortAgreed() ? "agreed" : "";
    return requests;
}

void Compare(const std::string& what, const std::string& inPieces, const std::string& whole) {
    Require(inPieces == whole,
            what + " differs when cut: " + Quoted(inPieces) + " instead of " + Quoted(whole));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    Input input;
    for (int i = 0; i < 4; ++i) input.pieces[i] = std::size_t{data[i]} + 1;
    input.bytes = data + 4;
    input.size = size - 4;

    std::string cutData, cutAnswers, wholeData, wholeAnswers;
    {
        ComPortClient cut;
        ComPortClient whole;
        Feed(cut, input, true, cutData, cutAnswers);
        Feed(whole, input, false, wholeData, wholeAnswers);
        Compare("the client's data", cutData, wholeData);
        Compare("the client's answers", cutAnswers, wholeAnswers);
        Compare("the client's state", StateOf(cut), StateOf(whole));
    }
    cutData.clear();
    wholeData.clear();
    {
        ComPortServer cut;
        ComPortServer whole;
        Feed(cut, input, true, cutData, cutAnswers);
        Feed(whole, input, false, wholeData, wholeAnswers);
        Compare("the server's data", cutData, wholeData);
        Compare("the server's answers", cutAnswers, wholeAnswers);
        Compare("the server's requests", RequestsOf(cut), RequestsOf(whole));
    }
    return 0;
}
