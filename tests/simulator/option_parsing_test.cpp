// The command-line grammars of faults and durations: what each form means
// and how a mistake is explained.
#include "link/machine_command.h"
#include "simulator/fault_plan.h"
#include "simulator/machine_durations.h"

#include <gtest/gtest.h>

#include <iterator>

#include <string>

namespace kestrova::testing {
namespace {

using simulator::FaultKind;
using simulator::FaultWhen;

TEST(FaultPlanParsing, ReadsEveryKindOfFault) {
    struct Case {
        const char* option;
        FaultKind kind;
        std::uint8_t command;
        std::uint8_t code;
        FaultWhen::Mode mode;
        std::size_t n;
    } cases[] = {
        {"nak:load:7", FaultKind::Nak, command::Load, 7, FaultWhen::Mode::Once, 0},
        {"NAK:L:255@3", FaultKind::Nak, command::Load, 255, FaultWhen::Mode::Card, 3},
        {"fail:personalize:3@*4", FaultKind::Fail, command::Personalize, '3', FaultWhen::Mode::Every, 4},
        {"fail:l:x", FaultKind::Fail, command::PreLoad, 'x', FaultWhen::Mode::Once, 0},
        {"silent:Poll@*", FaultKind::Silent, command::Poll, 0, FaultWhen::Mode::Every, 1},
        {"badcheck:!", FaultKind::BadCheck, command::Restore, 0, FaultWhen::Mode::Once, 0},
        {"stray:eject@2", FaultKind::Stray, command::Eject, 0, FaultWhen::Mode::Card, 2},
        {"split:w", FaultKind::Split, command::ModuleInfo, 0, FaultWhen::Mode::Once, 0},
        {"badcheck:poll@?40", FaultKind::BadCheck, command::Poll, 0, FaultWhen::Mode::Chance, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const auto parsed = simulator::parseFaultPlan(c.option);
        ASSERT_TRUE(parsed.plan) << parsed.error;
        ASSERT_EQ(parsed.plan->faults.size(), 1u);
        const auto& fault = parsed.plan->faults[0];
        EXPECT_EQ(fault.kind, c.kind);
        EXPECT_EQ(fault.command, c.command);
        EXPECT_EQ(fault.code, c.code);
        EXPECT_EQ(fault.when.mode, c.mode);
        EXPECT_EQ(fault.when.n, c.n);
        EXPECT_EQ(fault.text, c.option);
    }
}

TEST(FaultPlanParsing, ReadsLineFaultsAndLists) {
    const auto parsed = simulator::parseFaultPlan(" jam:3 , jam:0:eject,split:p:20, wchunk:4,wchunk:2 ");
    ASSERT_TRUE(parsed.plan) << parsed.error;
    const auto& faults = parsed.plan->faults;
    ASSERT_EQ(faults.size(), 5u);
    EXPECT_EQ(faults[0].kind, FaultKind::Jam);
    EXPECT_EQ(faults[0].count, 3u);
    EXPECT_FALSE(faults[0].jamAtEject);
    EXPECT_TRUE(faults[1].jamAtEject);
    EXPECT_EQ(faults[1].count, 0u);
    EXPECT_EQ(faults[2].gapMs, 20u);
    EXPECT_EQ(parsed.plan->writeChunk(), 2u) << "the tightest limit holds";
    EXPECT_TRUE(simulator::parseFaultPlan("").plan->empty());
}

TEST(FaultPlanParsing, ExplainsWhatIsWrong) {
    struct Case {
        const char* option;
        const char* explanation;
    } cases[] = {
        {"nak:load", "expected nak:COMMAND:REJECTCODE"},
        {"nak:load:256", "0 to 255"},
        {"nak:lod:1", "unknown command 'lod'"},
        {"nak:x:1", "unknown command 'x'"},
        {"fail:poll:3", "a poll has no completion"},
        {"fail:load:0", "other than 0"},
        {"fail:load:33", "one character"},
        {"silent:load@0", "card number N (from 1)"},
        {"silent:load@*x", "after '@'"},
        {"silent:load@?0", "?N for a chance of 1 in N"},
        {"jam:x", "cards delivered before the jam"},
        {"jam:1:middle", "'load' or 'eject'"},
        {"jam:1@2", "not by '@'"},
        {"wchunk:0", "1 or more"},
        {"split:poll:-5", "milliseconds"},
        {"explode:load", "unknown fault 'explode'"},
        {"nak:load:1,,jam:2", "empty fault"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const auto parsed = simulator::parseFaultPlan(c.option);
        EXPECT_FALSE(parsed.plan);
        EXPECT_NE(parsed.error.find(c.explanation), std::string::npos) << parsed.error;
    }
}

// Every kind of fault has its entry in the help, at the start of a line, and
// the entry's own example reads as that kind.
TEST(FaultPlanParsing, HelpTextNamesEveryFault) {
    using simulator::FaultKind;
    const std::string help = simulator::faultGrammarText();
    const struct {
        FaultKind kind;
        const char* entry;
        const char* example;
    } kinds[] = {
        {FaultKind::Nak, "nak:CMD:CODE", "nak:load:7"},        {FaultKind::Fail, "fail:CMD:CHAR", "fail:eject:3"},
        {FaultKind::Silent, "silent:CMD", "silent:poll@2"},    {FaultKind::BadCheck, "badcheck:CMD", "badcheck:p"},
        {FaultKind::Stray, "stray:CMD", "stray:any"},          {FaultKind::Split, "split:CMD", "split:poll:1510"},
        {FaultKind::Jam, "jam:N", "jam:3:eject"},              {FaultKind::WriteChunk, "wchunk:BYTES", "wchunk:1"},
        {FaultKind::LostAck, "lostack:CMD", "lostack:load"},   {FaultKind::LostDone, "lostdone:CMD", "lostdone:P"},
        {FaultKind::Late, "late:CMD", "late:poll:2500@*3"},    {FaultKind::Twice, "twice:CMD", "twice:restore"},
        {FaultKind::PowerCut, "powercut", "powercut:load@#9"}, {FaultKind::Trickle, "trickle:CMD", "trickle:poll"},
    };
    // One row per kind: the last enumerator counts them.
    ASSERT_EQ(std::size(kinds), static_cast<std::size_t>(FaultKind::Trickle) + 1);
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.entry);
        EXPECT_NE(help.find(std::string("\n  ") + k.entry), std::string::npos) << help;
        const auto parsed = simulator::parseFaultPlan(k.example);
        ASSERT_TRUE(parsed.plan) << parsed.error;
        ASSERT_EQ(parsed.plan->faults.size(), 1u);
        EXPECT_EQ(parsed.plan->faults[0].kind, k.kind);
    }
}

TEST(DurationsParsing, ReadsNamedFormsAndOverrides) {
    const auto typical = simulator::MachineDurations::typical();
    EXPECT_EQ(simulator::parseDurations("typical").durations->personalizeMs, typical.personalizeMs);
    EXPECT_EQ(simulator::parseDurations(" INSTANT ").durations->restoreMs, 0u);
    const auto mixed = simulator::parseDurations("all=40,personalize=120");
    ASSERT_TRUE(mixed.durations) << mixed.error;
    EXPECT_EQ(mixed.durations->loadMs, 40u);
    EXPECT_EQ(mixed.durations->personalizeMs, 120u);
    const auto one = simulator::parseDurations("eject=5");
    EXPECT_EQ(one.durations->ejectMs, 5u);
    EXPECT_EQ(one.durations->restoreMs, typical.restoreMs) << "unnamed operations keep the typical pace";
    EXPECT_EQ(one.durations->forCommand(command::Eject), 5u);
    EXPECT_EQ(one.durations->forCommand(command::JobSetup), 0u);
}

TEST(DurationsParsing, ExplainsWhatIsWrong) {
    struct Case {
        const char* option;
        const char* explanation;
    } cases[] = {
        {"", "empty durations"},
        {"fast", "has no '='"},
        {"load=abc", "whole number of milliseconds"},
        {"load=-1", "whole number of milliseconds"},
        {"warp=10", "unknown operation 'warp'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        const auto parsed = simulator::parseDurations(c.option);
        EXPECT_FALSE(parsed.durations);
        EXPECT_NE(parsed.error.find(c.explanation), std::string::npos) << parsed.error;
    }
}

}  // namespace
}  // namespace kestrova::testing
