// SPDX-License-Identifier: LGPL-2.1-or-later
// XPM data when the xpm module lacks the entry (TEST_SET_b) or cannot be found (TEST_SET_c):
// each call tries again and warns again.
#include <gtest/gtest.h>

#include "loading-test.h"
#include "log-capture.h"
#include "recorder.h"

TEST (XpmData, EveryCallWarns)
{
    const char *xpm[] = {"1 1 1 1", "  c None", " ", nullptr};
    tamba::test::LogCapture log;
    EXPECT_EQ (tamba_new_from_xpm_data (xpm), nullptr);
    EXPECT_EQ (tamba_new_from_xpm_data (xpm), nullptr);
    const std::vector<std::string> w = log.warnings ();
    EXPECT_EQ (log.messages ().size (), w.size ());
#ifdef TEST_SET_b
    EXPECT_EQ (w, std::vector<std::string> (2, "tamba XPM module lacks XPM data capability"));
#else
    ASSERT_EQ (w.size (), 4u);
    for (int i : {0, 2}) {
        EXPECT_EQ (w[i].rfind ("Unable to load module: libtambaloader-xpm.so: ", 0), 0u) << w[i];
        EXPECT_EQ (w[i + 1], "Can't find tamba module for parsing inline XPM data");
    }
#endif
    EXPECT_TRUE (tamba::test::recorder ().calls.empty ());
}
