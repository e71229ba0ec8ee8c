#include "standin/outside_the_module.h"

namespace kestrova::standin {

namespace {
thread_local int tOutsideTheModule = 0;
}  // namespace

OutsideTheModule::OutsideTheModule() { ++tOutsideTheModule; }
OutsideTheModule::~OutsideTheModule() { --tOutsideTheModule; }
bool outsideTheModule() { return tOutsideTheModule > 0; }

}  // namespace kestrova::standin
