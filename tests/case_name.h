// Parameterised cases are named after their `name` field, so that CTest and
// GoogleTest show "Texts/HeaderRecord.Parses/SecondXStartsTheNextItem"
// instead of an index and the parameter's raw bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace kestrova::testing {

struct NamedCase {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return std::string(info.param.name);
    }
};

}  // namespace kestrova::testing
