// EndDocPort producing whole jobs on the scripted machine, on the virtual clock.
#include "case_name.h"
#include "support/port_fixture.h"

#include "link/machine_state.h"

#include <optional>

namespace kestrova::testing {
namespace {

using standin::MachineResponse;
using standin::PortEntry;

// Two items; three cards whose lines end in each kind of line break, one of
// them holding a frame byte and a byte above 0x7F.
const std::string kHeader = "<SX856 SY540 X120 Y45 F2 CI3 X300 Y100 F1 CI5>";
const std::string kCards[] = {"<CARD ONE\r\nLINE B>", "<CARD TWO\nLINE \x02\xE9>", "<CARD THREE\rLINE C>"};
const std::string kSetup = "06SZX85606SZY540";
const std::string kPersonalised[] = {
    "A012000452030CARD ONE;030001001050LINE B",
    "A012000452030CARD TWO;030001001050LINE \x02\xE9",
    "A012000452030CARD THREE;030001001050LINE C",
};
// What one card costs a machine that answers at once: nine cycles, fourteen exchanges.
const std::string kCardLetters = "plppLppJPppEpp";
// The first job on a new port restores the machine first.
const std::string kRestoreLetters = "p!p";

std::string job(std::size_t cards) {
    std::string text = "leading bytes are dropped " + kHeader + "\r\n";
    for (std::size_t i = 0; i < cards; ++i) text += kCards[i];
    return text;
}

std::vector<Bytes> personalised(std::initializer_list<std::size_t> cards) {
    std::vector<Bytes> out;
    for (std::size_t card : cards) out.push_back(bytesOf(kPersonalised[card]));
    return out;
}

std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

using ProductionLoopTest = PortFixture;

TEST_F(ProductionLoopTest, ProducesEveryCardOnceInOrder) {
    standin::setOpenPrinterResult(TRUE, reinterpret_cast<HANDLE>(0x4711));
    ASSERT_EQ(startDoc(42), TRUE);
    write(job(3), {1, 7, 3, 64, 2});
    EXPECT_EQ(endDoc(), TRUE);

    EXPECT_EQ(machine.commandLetters(), kRestoreLetters + repeat(kCardLetters, 3));
    EXPECT_EQ(machine.payloadsOf(command::JobSetup), std::vector<Bytes>(3, bytesOf(kSetup)));
    EXPECT_EQ(machine.payloadsOf(command::Personalize), personalised({0, 1, 2}));
    for (const auto& request : machine.received()) {
        EXPECT_TRUE(request.wellFormed);
        if (request.command != command::JobSetup && request.command != command::Personalize) {
            EXPECT_TRUE(request.payload.empty()) << request.command;
        }
    }

    // The finish: the document beneath ends, then the spooler learns the job is done.
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 1u);
    const auto setJobs = standin::callsNamed("SetJobW");
    ASSERT_EQ(setJobs.size(), 2u);
    EXPECT_EQ(setJobs[0].command, JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_EQ(setJobs[1].command, JOB_CONTROL_DELETE);
    for (const auto& call : setJobs) {
        EXPECT_EQ(call.handle, reinterpret_cast<HANDLE>(0x4711));
        EXPECT_EQ(call.jobId, 42u);
        EXPECT_EQ(call.level, 0u);
        EXPECT_TRUE(call.jobNull);
    }
    const auto closes = standin::callsNamed("ClosePrinter");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, reinterpret_cast<HANDLE>(0x4711));

    EXPECT_EQ(port->printerHandle, nullptr);
    EXPECT_EQ(port->jobInfo.jobId, 0u);
    EXPECT_TRUE(port->jobInfo.docInfo.docName.empty());
    EXPECT_EQ(port->intake().cardsLeft(), 0u);
    EXPECT_EQ(port->intake().bytesBuffered(), 0u);
    EXPECT_EQ(port->machine().state(), state::Ready);
    EXPECT_EQ(port->machine().hwErrorCode(), 0);
    ASSERT_EQ(port->currentRecord.lines().size(), 2u);
    EXPECT_EQ(port->currentRecord.lines()[0], "CARD THREE");
}

TEST_F(ProductionLoopTest, PausesNinetyMillisecondsBetweenCyclesOnly) {
    ASSERT_EQ(produce(job(2)), TRUE);
    std::vector<DWORD> pauses;
    for (const auto& call : standin::callsNamed("Sleep")) pauses.push_back(call.command);
    const std::size_t cycles = 2 + 2 * 9 + 1;  // restore, two cards, the finish
    const std::size_t exchanges = kRestoreLetters.size() + 2 * kCardLetters.size();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 90u), static_cast<std::ptrdiff_t>(cycles - 1));
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 10u), static_cast<std::ptrdiff_t>(exchanges));
    ASSERT_FALSE(pauses.empty());
    EXPECT_EQ(pauses.front(), 10u);  // the first cycle starts at once
    EXPECT_EQ(pauses.back(), 90u);   // and the finish makes no exchange
    EXPECT_EQ(pauses.size(), cycles - 1 + exchanges);
}

TEST_F(ProductionLoopTest, BusyPollsOnlyDelayTheNextStep) {
    machine.setBusyPolls(1);
    ASSERT_EQ(produce(job(1)), TRUE);
    EXPECT_EQ(machine.commandLetters(), "p!pp" "plpppLpppJPpppEppp");
    EXPECT_EQ(machine.payloadsOf(command::Personalize), personalised({0}));
}

TEST_F(ProductionLoopTest, LaterJobsStartFromReady) {
    ASSERT_EQ(produce(job(1)), TRUE);
    machine.clear();
    ASSERT_EQ(produce(job(2), {5}), TRUE);
    EXPECT_EQ(machine.commandLetters(), repeat(kCardLetters, 2));
    EXPECT_EQ(machine.payloadsOf(command::Personalize), personalised({0, 1}));
}

TEST_F(ProductionLoopTest, JobWithoutCardsFinishesAtOnce) {
    for (const std::string& text : {std::string(), kHeader, std::string("<>no record")}) {
        SCOPED_TRACE(text);
        standin::clearCalls();
        const std::size_t ends = spm.countOf(PortEntry::EndDocPort);
        const std::uint64_t pauses = standin::sleepCount();
        EXPECT_EQ(produce(text), TRUE);
        EXPECT_EQ(machine.frames(), 0u);
        EXPECT_EQ(standin::sleepCount(), pauses);
        EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), ends + 1);
        EXPECT_EQ(standin::callsNamed("SetJobW").size(), 2u);
        EXPECT_EQ(standin::callsNamed("ClosePrinter").size(), 1u);
    }
}

TEST_F(ProductionLoopTest, FailedEndBeneathSkipsTheSpoolerButClosesThePrinter) {
    for (BOOL result : {FALSE, 2}) {
        SCOPED_TRACE(result);
        standin::clearCalls();
        spm.setResult(PortEntry::EndDocPort, result);
        EXPECT_EQ(produce(job(1)), result);
        EXPECT_TRUE(standin::callsNamed("SetJobW").empty());
        const auto opened = standin::callsNamed("OpenPrinterW");
        const auto closed = standin::callsNamed("ClosePrinter");
        ASSERT_EQ(opened.size(), 1u);
        ASSERT_EQ(closed.size(), 1u);
        EXPECT_EQ(closed[0].handle, opened[0].handle);
        EXPECT_EQ(port->printerHandle, nullptr);
        EXPECT_EQ(port->jobInfo.jobId, 0u);
    }
}

// What a halt test arranges its failure on.
struct Rig {
    standin::ScriptedMachine& machine;
    standin::SoftwarePortMonitor& spm;
};

// A halt, what the machine received up to it, and what production does after
// an acknowledged restore.
struct Halt {
    const char* name;
    std::function<void(Rig)> arrange;
    std::int32_t hwErrorCode;
    std::string lettersAtHalt;
    std::string lettersAfterRestore;
    std::vector<Bytes> personalised;
};

std::vector<Halt> halts() {
    const std::string upToLoad = kRestoreLetters + "plppL";
    const std::string upToSetup = upToLoad + "ppJ";
    const std::string twoCards = "p" + repeat(kCardLetters, 2);
    return {
        {"NakToLoad", [](Rig r) { r.machine.script(command::Load, MachineResponse::nak(7)); }, 5383,
         upToLoad, twoCards, personalised({0, 1})},
        {"LoadCompletesWithAnError", [](Rig r) { r.machine.script(command::Load, MachineResponse::ack('3')); },
         51, upToLoad + "p", twoCards, personalised({0, 1})},
        {"SilentMachine", [](Rig r) { r.machine.script(command::PreLoad, MachineResponse::silence()); },
         code::NoReply, kRestoreLetters + "pl", twoCards, personalised({0, 1})},
        {"WriteFails", [](Rig r) { r.spm.failCall(PortEntry::WritePort, 5); }, code::WriteFailed,
         kRestoreLetters + "p", twoCards, personalised({0, 1})},
        {"ReadyWhileLoading",
         [](Rig r) {
             // The poll after the PreLoad's ACK says ready instead of reporting it done.
             r.machine.setHook([&machine = r.machine, armed = true](const standin::ReceivedCommand& request) mutable
                               -> std::optional<MachineResponse> {
                 if (armed && request.command == command::PreLoad) {
                     armed = false;
                     machine.script(command::Poll, MachineResponse::enq());
                 }
                 return std::nullopt;
             });
         },
         code::ReadyWhileBusy, kRestoreLetters + "plp", twoCards, personalised({0, 1})},
        {"JobSetupAcknowledged", [](Rig r) { r.machine.script(command::JobSetup, MachineResponse::ack()); },
         code::UnexpectedReply, upToSetup, twoCards, personalised({0, 1})},
        {"NakToJobSetup", [](Rig r) { r.machine.script(command::JobSetup, MachineResponse::nak(0x02)); },
         0x1502, upToSetup, twoCards, personalised({0, 1})},
        // A card whose personalisation failed is spoiled, not finished: it
        // is made again after the restore.
        {"PersonalizeCompletesWithAnError",
         [](Rig r) { r.machine.script(command::Personalize, MachineResponse::ack('5')); }, 53,
         upToSetup + "Pp", twoCards, personalised({0, 0, 1})},
        // A restore after a good personalisation counts the card as finished.
        {"NakToEject", [](Rig r) { r.machine.script(command::Eject, MachineResponse::nak(1)); }, 5377,
         upToSetup + "PppE", "p" + kCardLetters, personalised({0, 1})},
    };
}

class ProductionHaltTest : public PortFixture, public ::testing::WithParamInterface<Halt> {};

TEST_P(ProductionHaltTest, ConcurrentRestoreResumesAHaltedJob) {
    const Halt& halt = GetParam();
    halt.arrange(Rig{machine, spm});
    ASSERT_EQ(startDoc(), TRUE);
    write(job(2), {3});
    BackgroundJob production([this] { return endDoc(); });

    ASSERT_TRUE(waitForPort(*port, [](MonitorPort& p) { return p.machine().hwErrorCode() != 0; }));
    EXPECT_EQ(underPortLock([](MonitorPort& p) { return p.machine().hwErrorCode(); }), halt.hwErrorCode);
    EXPECT_EQ(machine.commandLetters(), halt.lettersAtHalt);

    // Halted: the loop goes on cycling but sends nothing, not even a poll.
    const std::size_t frames = machine.frames();
    const std::uint64_t pauses = standin::sleepCount();
    ASSERT_TRUE(waitForPort(*port, [pauses](MonitorPort&) { return standin::sleepCount() >= pauses + 20; }));
    EXPECT_EQ(machine.frames(), frames);
    EXPECT_FALSE(production.done());

    {
        const PortLock guard(*port);
        EXPECT_EQ(port->machine().exchange(command::Restore, {}), ExchangeOutcome());
        EXPECT_EQ(port->machine().lastReply().replyCode, reply::ACK);
        EXPECT_EQ(port->machine().hwErrorCode(), 0);
        EXPECT_EQ(port->machine().state(), state::Restoring);
    }
    EXPECT_EQ(production.join(*port), TRUE);
    EXPECT_EQ(machine.commandLetters(), halt.lettersAtHalt + "!" + halt.lettersAfterRestore);
    EXPECT_EQ(machine.payloadsOf(command::Personalize), halt.personalised);
    EXPECT_EQ(port->intake().cardsLeft(), 0u);
    EXPECT_EQ(port->machine().hwErrorCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Halts, ProductionHaltTest, ::testing::ValuesIn(halts()), NamedCase());

TEST_F(ProductionLoopTest, ConcurrentDeleteEndsACardWithoutItems) {
    ASSERT_EQ(startDoc(), TRUE);
    write("<SX1 SY2><Ann><Bee>");
    BackgroundJob production([this] { return endDoc(); });
    ASSERT_TRUE(waitForPort(*port, [](MonitorPort& p) { return p.machine().hwErrorCode() != 0; }));
    EXPECT_EQ(underPortLock([](MonitorPort& p) { return p.machine().hwErrorCode(); }), code::CardWithoutItems);
    EXPECT_EQ(machine.commandLetters(), kRestoreLetters + "plpp");  // no Load
    EXPECT_EQ(underPortLock([](MonitorPort& p) { return std::string(p.currentRecord.lines()[0]); }), "Ann");

    emptyQueue(*port);
    EXPECT_EQ(production.join(*port), TRUE);
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 1u);
    EXPECT_EQ(standin::callsNamed("SetJobW").size(), 2u);
    EXPECT_EQ(port->jobInfo.jobId, 0u);
}

TEST_F(ProductionLoopTest, ConcurrentDeleteWhileHaltedReturnsTheEndBeneath) {
    spm.setResult(PortEntry::EndDocPort, FALSE);
    machine.script(command::PreLoad, MachineResponse::nak(3));
    ASSERT_EQ(startDoc(), TRUE);
    write(job(3));
    BackgroundJob production([this] { return endDoc(); });
    ASSERT_TRUE(waitForPort(*port, [](MonitorPort& p) { return p.machine().hwErrorCode() != 0; }));
    emptyQueue(*port);
    EXPECT_EQ(production.join(*port), FALSE);
    EXPECT_EQ(machine.payloadsOf(command::Personalize).size(), 0u);
    EXPECT_TRUE(standin::callsNamed("SetJobW").empty());
}

}  // namespace
}  // namespace kestrova::testing
