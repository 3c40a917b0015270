#pragma once
// The sync-details feed lists live for the whole process: a test that reports into them
// holds this guard, which unregisters every page and empties the running, finished and
// failed lists when it is made and again when it goes, so no test sees another's rows.
#include "sync/common/FeedLists.h"

namespace testsupport {

class EmptyFeedLists {
public:
    EmptyFeedLists() { Reset(); }
    ~EmptyFeedLists() { Reset(); }
    EmptyFeedLists(const EmptyFeedLists&) = delete;
    EmptyFeedLists& operator=(const EmptyFeedLists&) = delete;

    static void Reset() {
        CStateDoingPage::SetPage(nullptr);
        CStateDonePage::SetPage(nullptr);
        CStateDoneFailedPage::SetPage(nullptr);
        CStateDoingPage::ClearDoingItems();
        CStateDonePage::Clear();
        CStateDoneFailedPage::Clear();
    }
};

}  // namespace testsupport
