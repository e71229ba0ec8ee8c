// The soak's verdict on a card log: hand-made logs with a card made twice,
// skipped, spoiled and not made again, or made for a job already deleted.
#include "case_name.h"
#include "simulator/card_log_audit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using simulator::AuditedJob;
using simulator::CardId;
using simulator::PersonalisedCard;

struct Made {
    CardId id;
    std::size_t frame;
    char completion = '0';
    bool delivered = true;
    bool completionLost = false;
};

struct Expected {
    std::size_t job;
    std::size_t card;
    const char* says;
};

struct AuditCase {
    const char* name;
    std::vector<AuditedJob> jobs;
    std::vector<Made> log;
    std::vector<simulator::SentCard> sentOnly;  // Personalize frames that made no card
    std::vector<Expected> violations;
    std::size_t lostCompletionRepeats = 0;
};

const AuditedJob kThree{3, 0, std::nullopt};
const AuditedJob kThreeDeletedAt100{3, 0, 100};
const AuditedJob kTwoFrom100{2, 100, std::nullopt};

class CardLogAuditTest : public ::testing::TestWithParam<AuditCase> {};

TEST_P(CardLogAuditTest, FindsWhatWentWrong) {
    const AuditCase& c = GetParam();
    std::vector<PersonalisedCard> log;
    std::vector<simulator::SentCard> sent = c.sentOnly;
    for (const Made& made : c.log) {
        PersonalisedCard entry;
        entry.position = log.size() + 1;
        entry.items.push_back({0, 0, 0, 0, simulator::cardLabel(made.id)});
        entry.personalizeFrame = made.frame;
        entry.completionCode = static_cast<std::uint8_t>(made.completion);
        entry.delivered = made.delivered && made.completion == '0';
        entry.completionLost = made.completionLost;
        log.push_back(entry);
        sent.push_back({made.frame, made.id});
    }
    const auto audit = simulator::auditCardLog(c.jobs, log, sent);
    ASSERT_EQ(audit.violations.size(), c.violations.size());
    for (std::size_t i = 0; i < c.violations.size(); ++i) {
        EXPECT_EQ(audit.violations[i].job, c.violations[i].job) << audit.violations[i].what;
        EXPECT_EQ(audit.violations[i].card, c.violations[i].card) << audit.violations[i].what;
        EXPECT_NE(audit.violations[i].what.find(c.violations[i].says), std::string::npos) << audit.violations[i].what;
    }
    EXPECT_EQ(audit.lostCompletionRepeats, c.lostCompletionRepeats);
}

INSTANTIATE_TEST_SUITE_P(
    HandMadeLogs, CardLogAuditTest,
    ::testing::Values(
        AuditCase{"EachCardOnceInOrder", {kThree}, {{{1, 1}, 1}, {{1, 2}, 2}, {{1, 3}, 3}}, {}, {}},
        AuditCase{"ACardMadeTwice",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 2}, 2}, {{1, 2}, 3}, {{1, 3}, 4}},
                  {},
                  {{1, 2, "personalised twice"}}},
        AuditCase{"ARepeatAfterALostCompletionIsTheLinks",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 2}, 2, '0', true, true}, {{1, 2}, 3}, {{1, 3}, 4}},
                  {},
                  {},
                  1},
        AuditCase{"ASkippedCard", {kThree}, {{{1, 1}, 1}, {{1, 3}, 2}}, {}, {{1, 2, "card 2 skipped"}}},
        AuditCase{"ASpoiledCardNotMadeAgain",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 2}, 2, '3'}, {{1, 3}, 3}},
                  {},
                  {{1, 2, "failed (completion '3'"}}},
        AuditCase{"ASpoiledCardMadeAgain",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 2}, 2, '3'}, {{1, 2}, 3}, {{1, 3}, 4}},
                  {},
                  {}},
        AuditCase{"OutOfOrder",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 3}, 2}, {{1, 2}, 3}},
                  {},
                  {{1, 2, "skipped"}, {1, 2, "again after card 3"}}},
        AuditCase{"TheLastCardsNeverMade", {kThree}, {{{1, 1}, 1}}, {}, {{1, 2, "cards 2 to 3 never"}}},
        AuditCase{"MadeButNotDelivered",
                  {kThree},
                  {{{1, 1}, 1}, {{1, 2}, 2}, {{1, 3}, 3, '0', false}},
                  {},
                  {{1, 3, "never delivered"}}},
        AuditCase{"ADeletedJobStopsAfterAPrefix",
                  {kThreeDeletedAt100, kTwoFrom100},
                  {{{1, 1}, 10}, {{1, 2}, 20}, {{2, 1}, 110}, {{2, 2}, 120}},
                  {},
                  {}},
        AuditCase{"ADeletedCardInTheNextJob",
                  {kThreeDeletedAt100, kTwoFrom100},
                  {{{1, 1}, 10}, {{1, 2}, 110}, {{2, 2}, 120}},
                  {},
                  {{2, 1, "card 1 skipped: card 2 came next (log position 3, Personalize frame 120); the job before"},
                   {1, 2, "after the deletion (frame 110, in production: job 2) and was personalised"}}},
        AuditCase{"ADeletedCardSentButRefused",
                  {kThreeDeletedAt100, kTwoFrom100},
                  {{{1, 1}, 10}, {{2, 1}, 110}, {{2, 2}, 120}},
                  {{105, {1, 2}}},
                  {{1, 2, "went out in a Personalize frame after the deletion (frame 105"}}},
        AuditCase{"ACardOfNoJob", {kThree}, {{{1, 1}, 1}, {{1, 2}, 2}, {{1, 3}, 3}, {{9, 1}, 4}}, {},
                  {{0, 0, "a card of no job"}}}),
    NamedCase());

}  // namespace
}  // namespace kestrova::testing
