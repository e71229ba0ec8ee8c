// The tree a control request is read into and its results are written to.
#pragma once

#include "control/wide_text.h"

#include <boost/property_tree/ptree.hpp>

namespace kestrova {

using ControlTree = boost::property_tree::basic_ptree<TreeString, TreeString>;

}  // namespace kestrova
