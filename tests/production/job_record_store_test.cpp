// The packed card queue against a plain double-ended queue of the same
// cards: every card read back must be the one queued, with its layout, while
// cards cross block boundaries, outgrow a block and leave from the front.
#include "production/job_record_store.h"

#include "support/allocation_failure.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace kestrova {
namespace {

using namespace std::string_literals;

struct StoreCase {
    const char* name;
    std::size_t cards;
    std::function<std::vector<std::string>(std::size_t card)> lines;
    std::size_t cardsPerLayout;
    std::size_t popsPerCheck;
};

JobRecord makeCard(const std::shared_ptr<const CardLayout>& layout, const std::vector<std::string>& lines) {
    CardLines packed;
    for (const std::string& line : lines) packed.push_back(line);
    return JobRecord(layout, packed);
}

void expectSame(const JobRecordStore& store, const std::deque<JobRecord>& model) {
    ASSERT_EQ(store.size(), model.size());
    if (model.empty()) return;
    for (const std::size_t at : {std::size_t{0}, model.size() / 2, model.size() - 1}) {
        const JobRecord card = store[at];
        EXPECT_EQ(card, model[at]) << "card " << at;
        EXPECT_EQ(card.layout(), model[at].layout()) << "card " << at << " has a copy of its layout";
    }
    EXPECT_EQ(store.front(), model.front());
}

class PackedStore : public ::testing::TestWithParam<StoreCase> {};

TEST_P(PackedStore, GivesBackEveryCardAsQueued) {
    const StoreCase& c = GetParam();
    JobRecordStore store;
    std::deque<JobRecord> model;
    std::shared_ptr<const CardLayout> layout;
    for (std::size_t i = 0; i < c.cards; ++i) {
        if (i % c.cardsPerLayout == 0) {
            CardLayout next;
            next.sx = static_cast<std::int32_t>(i);
            layout = std::make_shared<const CardLayout>(next);
        }
        model.push_back(makeCard(layout, c.lines(i)));
        store.push_back(model.back());
    }
    expectSame(store, model);
    std::size_t index = 0;
    for (const JobRecord& card : store) ASSERT_EQ(card, model[index++]);
    ASSERT_EQ(index, model.size());
    expectSame(JobRecordStore(store), model);

    while (!model.empty()) {
        for (std::size_t i = 0; i < c.popsPerCheck && !model.empty(); ++i) {
            store.pop_front();
            model.pop_front();
        }
        expectSame(store, model);
    }
    store.pop_front();  // harmless when empty
    EXPECT_TRUE(store.empty());

    // Emptied, the store starts afresh.
    model.push_back(makeCard(layout, {"again"}));
    store.push_back(model.back());
    expectSame(store, model);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, PackedStore,
    ::testing::Values(
        StoreCase{"ShortCardsOverManyBlocks", 30000,
                  [](std::size_t i) { return std::vector<std::string>{"card " + std::to_string(i)}; }, 30000, 997},
        StoreCase{"CardsLargerThanABlock", 7,
                  [](std::size_t i) {
                      return std::vector<std::string>{std::string(i * 40000, 'a' + static_cast<char>(i)), "tail"};
                  },
                  3, 1},
        StoreCase{"LinesOfEveryLengthClass", 600,
                  [](std::size_t i) {
                      return std::vector<std::string>{"", std::string(127, 'x'), std::string(128 + i, 'y'),
                                                      "\0\x80\xff"s, std::string(i % 5 == 0 ? 16384 : 3, 'z')};
                  },
                  600, 41},
        StoreCase{"CardsWithoutLines", 100, [](std::size_t) { return std::vector<std::string>{}; }, 100, 7},
        StoreCase{"NewLayoutForEveryFewCards", 5000,
                  [](std::size_t i) { return std::vector<std::string>{std::to_string(i), "second"}; }, 3, 2}),
    [](const ::testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

TEST(PackedStore, RunningOutOfMemoryLeavesTheQueuedCardsAsTheyWere) {
    const auto layout = std::make_shared<const CardLayout>();
    JobRecordStore store;
    store.push_back(makeCard(layout, {"first"}));
    const JobRecord huge = makeCard(layout, {std::string(JobRecordStore::kBlockSize, 'h')});
    {
        testing::FailLargeAllocations fail(JobRecordStore::kBlockSize);
        EXPECT_THROW(store.push_back(huge), std::bad_alloc);
    }
    store.push_back(makeCard(layout, {"second"}));
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[0].lines()[0], "first");
    EXPECT_EQ(store[1].lines()[0], "second");
}

}  // namespace
}  // namespace kestrova
