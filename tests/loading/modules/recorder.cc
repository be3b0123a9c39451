// SPDX-License-Identifier: LGPL-2.1-or-later
// In a library of its own, so that the modules and the test see one recorder.
#include "recorder.h"

tamba::test::Recorder &tamba::test::recorder ()
{
    static Recorder r;
    return r;
}
