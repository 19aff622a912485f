#include "Panes.h"

#include "PreferenceGroup.h"

#include "engine/RunningAppsManager.h"
#include "ui/ExclusionList.h"

// The same list as the popover's, with labelled buttons and a count.
QWidget* Panes::exclusions(RunningAppsManager& manager) {
    return new PreferenceGroup(
        QStringLiteral("Always leave these apps open"), QStringLiteral("hand.raised"),
        new ExclusionList(manager, ExclusionList::Look::pane), manager.defaults());
}
