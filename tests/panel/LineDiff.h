#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

// Joins groups of lines in order.
Lines concat(std::initializer_list<Lines> groups);

// Succeeds when `actual` equals `expected` line for line. On failure the
// message shows where the two first part, the differing stretch as
// expected ("-") against actual ("+"), and a few lines of context.
::testing::AssertionResult sameLines(const Lines& actual, const Lines& expected);
