#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

// The shared real inputs (BMP suite, meshes) sit beside the checkout and may be missing on a
// clone of its own. Tests that read them skip with one line naming the folder; where
// RENDER_REQUIRE_TESTDATA is set (as CI sets it) a missing folder fails them instead.
#define REQUIRE_TESTDATA()                                                                      \
    do {                                                                                        \
        if (!std::filesystem::is_directory(TESTDATA_DIR)) {                                     \
            if (std::getenv("RENDER_REQUIRE_TESTDATA"))                                         \
                FAIL() << "test data folder " TESTDATA_DIR " is missing";                       \
            GTEST_SKIP() << "test data folder " TESTDATA_DIR " is missing";                     \
        }                                                                                       \
    } while (0)
