// The two ends of the network serial protocol talking to each other, with
// the bytes between them handed over in pieces of every size, and the
// client under input that no honest server sends.
#include "com_port_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "com_port_server.h"
#include "com_port_values.h"

namespace tarn::driver::remote {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (const int value : values) bytes += static_cast<char>(value);
    return bytes;
}

const std::uint8_t* Raw(const std::string& bytes) {
    return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// A client and a server joined by a line that hands over each end's bytes
// in pieces of `piece` bytes.
struct Link {
    explicit Link(std::size_t piece) : piece(piece) {}

    // Delivers what the ends queue until neither queues more; false when
    // they are still answering each other after a few rounds.
    bool Pump() {
        for (int round = 0; round < 8; ++round) {
            const std::string toServer = client.TakeOutgoing();
            const std::string toClient = server.TakeOutgoing();
            if (toServer.empty() && toClient.empty()) return true;
            for (std::size_t at = 0; at < toServer.size(); at += piece) {
                server.Receive(Raw(toServer) + at, std::min(piece, toServer.size() - at), atServer);
            }
            for (std::size_t at = 0; at < toClient.size(); at += piece) {
                client.Receive(Raw(toClient) + at, std::min(piece, toClient.size() - at), atClient);
            }
        }
        return false;
    }

    std::size_t piece;
    ComPortClient client;
    ComPortServer server;
    std::string atClient;  // data the client received
    std::string atServer;  // data the server received
};

class ComPortLink : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override { ASSERT_TRUE(link.Pump()) << "the negotiation does not settle"; }

    Link link{GetParam()};
};

TEST_P(ComPortLink, NegotiationAgreesOnTheComPortOptionAndSettles) {
    EXPECT_TRUE(link.client.ComPortAgreed());
    EXPECT_FALSE(link.client.ComPortRefused());
    EXPECT_TRUE(link.server.ComPortAgreed());
    EXPECT_EQ(link.atClient, "");
    EXPECT_EQ(link.atServer, "");
    EXPECT_FALSE(link.server.TakeRequest());
}

TEST_P(ComPortLink, EveryByteValueCrossesBothWaysUnchanged) {
    std::string all;
    for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
    all += Bytes({kIAC, kIAC, kIAC, kSE, kIAC, kSB});
    const std::string reversed(all.rbegin(), all.rend());

    // A request between two pieces of data leaves both pieces whole.
    link.client.SendData(Raw(all), all.size());
    link.client.RequestDataSize(8);
    link.client.SendData(Raw(reversed), reversed.size());
    link.server.SendData(Raw(reversed), reversed.size());
    ASSERT_TRUE(link.Pump());

    EXPECT_EQ(link.atServer, all + reversed);
    EXPECT_EQ(link.atClient, reversed);
    const auto request = link.server.TakeRequest();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->command, ComCommand::SetDataSize);
    EXPECT_EQ(request->value, 8u);
}

TEST_P(ComPortLink, EachRequestReachesTheServerAndItsAnswerTheClient) {
    struct Exchange {
        const char* what;
        void (*request)(ComPortClient&);
        ComCommand command;
        std::uint32_t requested;
        std::uint32_t answered;  // what the server says is now in force
        Answer (ComPortClient::*answer)() const;
    };
    const Exchange exchanges[] = {
        {"baud rate with IAC bytes", [](ComPortClient& c) { c.RequestBaudRate(0xFF00FFFF); },
         ComCommand::SetBaudRate, 0xFF00FFFF, 0x0001C2FF, &ComPortClient::BaudRate},
        {"data size", [](ComPortClient& c) { c.RequestDataSize(7); }, ComCommand::SetDataSize, 7, 7,
         &ComPortClient::DataSize},
        {"parity", [](ComPortClient& c) { c.RequestParity(WireParity::Even); },
         ComCommand::SetParity, 3, 3, &ComPortClient::Parity},
        {"stop size", [](ComPortClient& c) { c.RequestStopSize(WireStopSize::Two); },
         ComCommand::SetStopSize, 2, 2, &ComPortClient::StopSize},
        {"flow, answered with a further kind",
         [](ComPortClient& c) { c.RequestControl(WireControl::RequestFlow); },
         ComCommand::SetControl, 0, 19, &ComPortClient::Flow},
        {"break", [](ComPortClient& c) { c.RequestControl(WireControl::BreakOn); },
         ComCommand::SetControl, 5, 5, &ComPortClient::Break},
        {"DTR", [](ComPortClient& c) { c.RequestControl(WireControl::DtrOff); },
         ComCommand::SetControl, 9, 9, &ComPortClient::Dtr},
        {"RTS", [](ComPortClient& c) { c.RequestControl(WireControl::RtsOn); },
         ComCommand::SetControl, 11, 11, &ComPortClient::Rts},
        {"inbound flow",
         [](ComPortClient& c) { c.RequestControl(WireControl::InboundFlowHardware); },
         ComCommand::SetControl, 16, 16, &ComPortClient::InboundFlow},
        {"purge", [](ComPortClient& c) { c.RequestPurge(WirePurge::Both); }, ComCommand::PurgeData,
         3, 3, &ComPortClient::Purge},
        {"line state mask", [](ComPortClient& c) { c.RequestLineStateMask(0xFF); },
         ComCommand::SetLineStateMask, 0xFF, 0xFF, nullptr},
        {"modem state mask", [](ComPortClient& c) { c.RequestModemStateMask(0xF0); },
         ComCommand::SetModemStateMask, 0xF0, 0xF0, nullptr},
    };
    for (const Exchange& exchange : exchanges) {
        SCOPED_TRACE(exchange.what);
        exchange.request(link.client);
        ASSERT_TRUE(link.Pump());
        const auto request = link.server.TakeRequest();
        ASSERT_TRUE(request);
        EXPECT_EQ(request->command, exchange.command);
        EXPECT_EQ(request->value, exchange.requested);
        EXPECT_FALSE(link.server.TakeRequest());
        link.server.Answer(exchange.command, exchange.answered);
        ASSERT_TRUE(link.Pump());
    }
    // Checked only once all are answered, so that an answer sorted into
    // another setting's place shows.
    for (const Exchange& exchange : exchanges) {
        if (exchange.answer == nullptr) continue;
        SCOPED_TRACE(exchange.what);
        const Answer answer = (link.client.*exchange.answer)();
        EXPECT_TRUE(answer.answered);
        EXPECT_EQ(answer.value, exchange.answered);
    }
    // A new request forgets the answer of its own group only.
    link.client.RequestControl(WireControl::RequestDtr);
    EXPECT_FALSE(link.client.Dtr().answered);
    EXPECT_TRUE(link.client.Rts().answered);
    EXPECT_TRUE(link.client.Break().answered);
}

TEST_P(ComPortLink, NotificationsOfTheLinesLineErrorsAndSuspension) {
    EXPECT_FALSE(link.client.ModemState());
    link.server.NotifyModemState(0xFF);
    ASSERT_TRUE(link.Pump());
    EXPECT_EQ(link.client.ModemState(), 0xFF);
    link.server.NotifyModemState(kModemDcd | kModemCts | 0x01);
    ASSERT_TRUE(link.Pump());
    EXPECT_EQ(link.client.ModemState(), kModemDcd | kModemCts | 0x01);

    // Errors gather until taken; the other line state bits are no errors.
    link.server.NotifyLineState(kLineBreak | kLineDataReady | kLineHoldingRegisterEmpty);
    link.server.NotifyLineState(kLineOverrun | kLineTimeout);
    ASSERT_TRUE(link.Pump());
    EXPECT_EQ(link.client.TakeLineErrors(), kLineBreak | kLineOverrun);
    EXPECT_EQ(link.client.TakeLineErrors(), 0);
    link.server.NotifyLineState(0xFF);
    ASSERT_TRUE(link.Pump());
    EXPECT_EQ(link.client.TakeLineErrors(), kLineBreak | kLineFraming | kLineParity | kLineOverrun);

    link.server.Suspend();
    ASSERT_TRUE(link.Pump());
    EXPECT_TRUE(link.client.SendingSuspended());
    link.server.Resume();
    ASSERT_TRUE(link.Pump());
    EXPECT_FALSE(link.client.SendingSuspended());
}

std::vector<std::size_t> PieceSizes() {
    // Up to the longest command of the protocol (a baud rate of four IAC
    // bytes takes fourteen), and once all at once.
    std::vector<std::size_t> sizes;
    for (std::size_t size = 1; size <= 15; ++size) sizes.push_back(size);
    sizes.push_back(65536);
    return sizes;
}

INSTANTIATE_TEST_SUITE_P(Pieces, ComPortLink, ::testing::ValuesIn(PieceSizes()),
                         [](const auto& info) { return "Piece" + std::to_string(info.param); });

// Input from a server that no honest one sends: it may change nothing but
// what it validly says, data around it must come through, and the client
// must stay able to take the next valid message.
TEST(ComPortClientHostileInput, DropsWhatIsMalformedAndRecovers) {
    struct Hostile {
        const char* what;
        std::vector<std::string> pieces;  // each handed over in one Receive
        std::string data;
        std::optional<std::uint8_t> modemState = std::nullopt;
        std::optional<std::string> answers = std::nullopt;  // exactly what the client sends back
    };
    const std::string repeated = [] {
        std::string bytes;
        for (int i = 0; i < 1000; ++i) {
            bytes += Bytes({kIAC, kDO, kOptionBinary, kIAC, kWILL, kOptionSuppressGoAhead, kIAC,
                            kDO, kOptionComPort, kIAC, kDO, 99, kIAC, kWILL, 99});
        }
        return bytes;
    }();
    const std::string flipped = [] {
        std::string bytes;
        for (int i = 0; i < 100000; ++i) {
            bytes += Bytes({kIAC, kDONT, kOptionBinary, kIAC, kDO, kOptionBinary});
        }
        return bytes;
    }();
    const Hostile cases[] = {
        {"garbage after IAC, a bare command, SE without SB",
         {Bytes({kIAC, 1}) + "a" + Bytes({kIAC, 241}) + "b" + Bytes({kIAC, kSE}) + "c"},
         "abc"},
        {"a baud rate answer of two bytes",
         {Bytes({kIAC, kSB, kOptionComPort, 101, 0, 0, kIAC, kSE}) + "ok"},
         "ok"},
        {"an unknown command and a notification for another option",
         {Bytes({kIAC, kSB, kOptionComPort, 150, 1, kIAC, kSE, kIAC, kSB, 99, 107, 1, kIAC, kSE})},
         ""},
        {"a sub-negotiation cut short by a command",
         {Bytes({kIAC, kSB, kOptionComPort, 107, 0x80, kIAC, 241}), "more"},
         "more"},
        {"a sub-negotiation without end takes what follows",
         {Bytes({kIAC, kSB, kOptionComPort, 107, 0x20}), "swallowed"},
         ""},
        {"an oversized sub-negotiation",
         {Bytes({kIAC, kSB, kOptionComPort, 107, 0x40}),
          std::string(kMaxSubnegotiation * 4, '\x40'), Bytes({kIAC, kSE}) + "after"},
         "after"},
        {"an empty sub-negotiation", {Bytes({kIAC, kSB, kIAC, kSE}) + "x"}, "x"},
        {"IAC at the end of pieces",
         {"a" + Bytes({kIAC}), Bytes({kIAC}) + "b" + Bytes({kIAC}), Bytes({kSB}),
          Bytes({kOptionComPort, 107}), Bytes({0x30, kIAC}), Bytes({kSE}) + "c"},
         "a\xFF"
         "bc",
         0x30},
        {"repeated requests of supported and unknown options",
         {repeated},
         "",
         std::nullopt,
         Bytes({kIAC, kWONT, 99, kIAC, kDONT, 99})},
        {"an option switched off and on without end", {flipped}, ""},
    };
    for (const Hostile& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        ComPortClient client;
        std::string data;
        const std::string agree = Bytes({kIAC, kDO, kOptionComPort});
        client.Receive(Raw(agree), agree.size(), data);
        client.TakeOutgoing();

        for (const std::string& piece : hostile.pieces)
            client.Receive(Raw(piece), piece.size(), data);
        EXPECT_EQ(data, hostile.data);
        EXPECT_EQ(client.ModemState(), hostile.modemState);
        EXPECT_FALSE(client.BaudRate().answered);
        const std::string answers = client.TakeOutgoing();
        EXPECT_LE(answers.size(), kMaxQueuedAnswers);
        if (hostile.answers) {
            EXPECT_EQ(answers, *hostile.answers);
        }

        const std::string valid = Bytes({kIAC, kSB, kOptionComPort, 107, 0x11, kIAC, kSE}) + "end";
        data.clear();
        client.Receive(Raw(valid), valid.size(), data);
        EXPECT_EQ(data, "end");
        EXPECT_EQ(client.ModemState(), 0x11);
        EXPECT_TRUE(client.ComPortAgreed());
    }
}

// The wire values that a server parses are the ones a client sends for each
// code, and nothing else maps to a code.
TEST(ComPortValues, EveryCodeGoesOnTheWireAndComesBack) {
    for (std::uint8_t parity = NOPARITY; parity <= SPACEPARITY; ++parity) {
        EXPECT_EQ(ParityFromWire(static_cast<std::uint32_t>(ParityOnWire(parity))), parity);
    }
    for (std::uint8_t stop = ONESTOPBIT; stop <= TWOSTOPBITS; ++stop) {
        EXPECT_EQ(StopBitsFromWire(static_cast<std::uint32_t>(StopSizeOnWire(stop))), stop);
    }
    for (const std::uint32_t request : {0u, 6u}) {
        EXPECT_FALSE(ParityFromWire(request));
        EXPECT_FALSE(StopBitsFromWire(request == 6 ? 4 : request));
    }
    const std::uint32_t lines[] = {MS_CTS_ON, MS_DSR_ON, MS_RING_ON, MS_RLSD_ON};
    for (const std::uint32_t line : lines) {
        EXPECT_EQ(ModemStatusFromWire(ModemLinesOnWire(line)), line);
    }
    EXPECT_EQ(ModemLinesOnWire(MS_CTS_ON | MS_RLSD_ON), kModemCts | kModemDcd);
}

}  // namespace
}  // namespace tarn::driver::remote
