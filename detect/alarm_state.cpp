#include "detect/alarm_state.h"

AlarmStateRecord AlarmState;
std::atomic<int32_t> smoothing{15};
std::atomic<int32_t> sensitivity{30};
