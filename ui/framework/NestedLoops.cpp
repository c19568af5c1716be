#include <algorithm>
#include <utility>

#include "ui/framework/Host.h"

namespace brellin {

WindowSystem::NestedLoop::NestedLoop(WindowSystem& system, std::function<void()> close)
    : owner(system), closeLoop(std::move(close)) {
    if (owner.closingNestedLoops) {
        refusedAtStart = true;
        closedFromOutside = true;
        return;
    }
    owner.nestedLoops.push_back(this);
}

WindowSystem::NestedLoop::~NestedLoop() {
    if (refusedAtStart) return;
    auto& loops = owner.nestedLoops;
    loops.erase(std::remove(loops.begin(), loops.end(), this), loops.end());
    if (!loops.empty() || !owner.closingNestedLoops) return;
    // The outermost loop has returned: what waited for it runs now, once.
    owner.closingNestedLoops = false;
    std::function<void()> then = std::move(owner.afterNestedLoops);
    owner.afterNestedLoops = nullptr;
    if (then) then();
}

void WindowSystem::closeNestedLoops(std::function<void()> then) {
    if (closingNestedLoops) return;
    if (nestedLoops.empty()) {
        if (then) then();
        return;
    }
    closingNestedLoops = true;
    afterNestedLoops = std::move(then);
    // Innermost first. A loop ends only when control comes back to it, so
    // none of them is gone while this runs; a copy all the same, as closing
    // one runs the dialog's own Cancel handling.
    const std::vector<NestedLoop*> open = nestedLoops;
    for (auto loop = open.rbegin(); loop != open.rend(); ++loop) {
        (*loop)->closedFromOutside = true;
        if ((*loop)->closeLoop) (*loop)->closeLoop();
    }
}

}  // namespace brellin
