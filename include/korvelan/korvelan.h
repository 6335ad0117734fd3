// KORVELAN, meta-analysis of ranked discovery datasets: everything the
// library offers, in one header. Link with the target korvelan::korvelan
// (CMake: find_package(korvelan)) or `pkg-config --libs korvelan`; C++20.
#ifndef KORVELAN_KORVELAN_H_
#define KORVELAN_KORVELAN_H_

#include "korvelan/analysis.h"
#include "korvelan/meta.h"
#include "korvelan/options.h"
#include "korvelan/version.h"

#endif  // KORVELAN_KORVELAN_H_
