#pragma once

#include <algorithm>
#include <vector>

#include "link/link_events.h"

namespace quillon {

// Hands each event to several observers in turn: the engine takes one
// observer, a front end may have a monitor, a trace file and a recorder.
class ObserverList final : public LinkObserver {
public:
    void Add(LinkObserver* observer) { observers_.push_back(observer); }
    void Remove(LinkObserver* observer) { std::erase(observers_, observer); }
    bool empty() const { return observers_.empty(); }
    void OnLinkEvent(const LinkEvent& event) override
    {
        for (LinkObserver* observer : observers_) {
            observer->OnLinkEvent(event);
        }
    }

private:
    std::vector<LinkObserver*> observers_;
};

} // namespace quillon
